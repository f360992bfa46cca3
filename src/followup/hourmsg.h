// Carrying the newest hour message of the last message day over.
#ifndef PIRZOL_FOLLOWUP_HOURMSG_H_
#define PIRZOL_FOLLOWUP_HOURMSG_H_

#include "db/tag.h"

// Looks at the newest booking in the period of last's day record; when it is
// function 23 or 24 and its type names a follow-up, checks and generates it
// for tag (no commit). 1 when the follow-up was generated.
[[nodiscard]] int Mld_HourMsg(TagSatz& tag, const TagSatz& last);

#endif  // PIRZOL_FOLLOWUP_HOURMSG_H_
