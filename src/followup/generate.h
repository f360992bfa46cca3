// Carrying one follow-up over to the accounted day: the follow-up booking,
// the value it credits, and the day record's message slot.
#ifndef PIRZOL_FOLLOWUP_GENERATE_H_
#define PIRZOL_FOLLOWUP_GENERATE_H_

#include "db/bch.h"
#include "db/fcd.h"
#include "db/tag.h"

// Inserts the follow-up booking of type fcd for tag's person and day (bch is
// the work record), credits its value into the slot its FcdTyp names and
// writes the slots back. Returns 0 when the type needs a target time the day
// lacks (nothing changed), 1 otherwise, whatever the statements answered.
[[nodiscard]] int Mld_Generate(TagSatz& tag, BchSatz& bch, const FcdSatz& fcd);

#endif  // PIRZOL_FOLLOWUP_GENERATE_H_
