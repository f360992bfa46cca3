// Carrying the day messages of the last message day over, one commit each.
#ifndef PIRZOL_FOLLOWUP_PREVDAY_H_
#define PIRZOL_FOLLOWUP_PREVDAY_H_

#include "db/tag.h"

// Handles every day-message booking of last's day whose type names a
// follow-up; tag's slots change in place. 1 when one follow-up was generated.
// restDue is 0 when nothing after these bookings can change the day: the
// unit of its last booking then writes the day's row as final (owed: a
// line is owed for the day whatever happens).
[[nodiscard]] int Mld_PrevDay(TagSatz& tag, const TagSatz& last, int restDue = 1,
                              int owed = 0);

#endif  // PIRZOL_FOLLOWUP_PREVDAY_H_
