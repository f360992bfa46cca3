// Weighing a follow-up against the day messages already booked on the
// accounted day, and cancelling the first weaker one.
#ifndef PIRZOL_FOLLOWUP_CHECK_H_
#define PIRZOL_FOLLOWUP_CHECK_H_

#include "db/fcd.h"
#include "db/tag.h"

// 1: the follow-up fcd may be generated on tag's day (a weaker booking may
// have been cancelled to function 45); 0: a stronger day message is booked.
[[nodiscard]] int Mld_CheckDay(const TagSatz& tag, const FcdSatz& fcd);

// On a day an earlier run left open or failed, or a correction withdrew
// (Unit_DayBegun): 1 when the follow-up fcd is booked there already by the
// batch, as its lineage says (without the lineage: as the batch books it, or
// was and has since been cancelled), so carrying it over again would double
// it; also 1, with a failure counted, when that cannot be read.
// 0 on any other day, where no statement is spent.
[[nodiscard]] int Mld_Booked(const TagSatz& tag, const FcdSatz& fcd);

#endif  // PIRZOL_FOLLOWUP_CHECK_H_
