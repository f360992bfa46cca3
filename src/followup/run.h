// The batch run: yesterday's placeholder days, the search and the two
// follow-up steps for each, and the parameter file "pirzoltgb".
#ifndef PIRZOL_FOLLOWUP_RUN_H_
#define PIRZOL_FOLLOWUP_RUN_H_

#include <cstddef>

#include "db/tag.h"
#include "followup/nights.h"

// Runs the batch over the nights of plan, oldest first; database is the
// upper-cased name written into the consolidated parameter lines. With the
// run record, the run's row is made first (plan.runId), days recorded as
// handled are skipped unless opts.again, and each day and complete night is
// recorded. 0 when every night was walked and the parameter file written;
// -1 when the run is incomplete (told on stderr).
[[nodiscard]] int Mld_Run(const char* database, const RunOptions& opts, NightPlan& plan);

// The parameter line for tag (with its "\n") into line, in the layout that
// KonsolMode selects.
void Param_Line(const TagSatz& tag, const char* database, char* line, std::size_t size);

#endif  // PIRZOL_FOLLOWUP_RUN_H_
