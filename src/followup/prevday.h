// Carrying the day messages of the last message day over, one commit each.
#ifndef PIRZOL_FOLLOWUP_PREVDAY_H_
#define PIRZOL_FOLLOWUP_PREVDAY_H_

#include "db/tag.h"

// Handles every day-message booking of last's day whose type names a
// follow-up; tag's slots change in place. 1 when one follow-up was generated.
[[nodiscard]] int Mld_PrevDay(TagSatz& tag, const TagSatz& last);

#endif  // PIRZOL_FOLLOWUP_PREVDAY_H_
