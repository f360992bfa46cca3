// The options after the three parameters: which nights a run handles, and
// what it leaves behind besides its work.
#ifndef PIRZOL_APP_OPTIONS_H_
#define PIRZOL_APP_OPTIONS_H_

#include "followup/nights.h"

// Reads argv[4] onwards: words beginning with "--" are options, other words
// stay ignored as they always were. An unknown option, a malformed date or a
// contradiction is said on stderr and answers PZL_BAD_OPTION, before the run
// has touched anything: a mistyped --dry-rn must never run a real night.
[[nodiscard]] int Opt_Parse(int argc, char** argv, RunOptions& opts);

#endif  // PIRZOL_APP_OPTIONS_H_
