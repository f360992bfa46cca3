// The batch run: yesterday's placeholder days, the search and the two
// follow-up steps for each, and the parameter file "pirzoltgb".
#ifndef PIRZOL_FOLLOWUP_RUN_H_
#define PIRZOL_FOLLOWUP_RUN_H_

#include <cstddef>

#include "db/tag.h"

// Runs the whole batch; database is the upper-cased name written into the
// consolidated parameter lines. 0 when every placeholder day was walked and
// the parameter file written; -1 when the run is incomplete (told on stderr).
[[nodiscard]] int Mld_Run(const char* database);

// Dumps tag on the console trace.
void Tag_Print(const TagSatz& tag);

// The parameter line for tag (with its "\n") into line, in the layout that
// KonsolMode selects.
void Param_Line(const TagSatz& tag, const char* database, char* line, std::size_t size);

#endif  // PIRZOL_FOLLOWUP_RUN_H_
