// Carrying the newest hour message of the last message day over.
#ifndef PIRZOL_FOLLOWUP_HOURMSG_H_
#define PIRZOL_FOLLOWUP_HOURMSG_H_

#include "db/tag.h"

#include "db/bch.h"

// The newest booking in the period of last's day record, read once for the
// day before its units, like the day-message bookings: rc is 0 with newest
// set, END_OF_DATA without one, or the error (logged, a failure of the day).
struct HourMsg {
  int rc;
  BchSatz newest;
};
void Mld_HourMsgRead(const TagSatz& last, HourMsg& h);
// 1 when h may carry a follow-up over (function 23 or 24 with a code): the
// rest of the day may change rows.
[[nodiscard]] int Mld_HourMsgDue(const HourMsg& h);
// When h's booking is function 23 or 24 and its type names a follow-up,
// checks and generates it for tag (no commit). 1 when the follow-up was
// generated.
[[nodiscard]] int Mld_HourMsg(TagSatz& tag, const HourMsg& h);
// The two in one: reads last's newest booking and handles it for tag.
[[nodiscard]] int Mld_HourMsg(TagSatz& tag, const TagSatz& last);

#endif  // PIRZOL_FOLLOWUP_HOURMSG_H_
