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
// handled are skipped unless opts.again, each day is recorded, and the
// nights walked are recorded complete once the parameter file is in place.
// 0 when every night was walked and the parameter file written; -1 when the
// run is incomplete (told on stderr).
[[nodiscard]] int Mld_Run(const char* database, const RunOptions& opts, NightPlan& plan);

// Ends the run begun by Mld_Run with exit status status: a dry run rolls
// everything back; a real one commits its last rows and frees the lease.
// Answers the exit status, kExitIncomplete when the end could not be kept
// or the lease was lost.
[[nodiscard]] int Mld_Finish(int status);
// Records how the run ended, once everything that decides its exit status
// (the report, the parameter file, the lease) has had its outcome: the
// run's row gets its status, counts and exit status, committed on their
// own, also after a lost unit while the session stands. Answers status, or
// kExitIncomplete when the row could not be written.
[[nodiscard]] int Mld_Record(const NightPlan& plan, int status);

// The parameter line for tag (with its "\n") into line, in the layout that
// KonsolMode selects.
void Param_Line(const TagSatz& tag, const char* database, char* line, std::size_t size);

#endif  // PIRZOL_FOLLOWUP_RUN_H_
