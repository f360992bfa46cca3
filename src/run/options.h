// The options after the three parameters: which nights a run handles, and
// what it leaves behind besides its work.
#ifndef PIRZOL_RUN_OPTIONS_H_
#define PIRZOL_RUN_OPTIONS_H_

#include "base/fixtext.h"

struct RunOptions {
  FixText<9> day;         // --day=YYYY-MM-DD as YYYYMMDD; empty when not given
  FixText<9> from;        // --from=YYYY-MM-DD as YYYYMMDD; empty when not given
  int again;              // --again: handle days recorded as handled
  int dryRun;             // --dry-run: do everything, keep nothing
  FixText<1024> report;   // --report=FILE; empty when not given
  FixText<1024> metrics;  // --metrics=FILE; empty when not given
  FixText<256> work;      // the options that choose the work, as given, for the record
};

// Reads argv[4] onwards: words beginning with "--" are options, other words
// stay ignored as they always were. An unknown option, a malformed date or a
// contradiction is said on stderr and answers PZL_BAD_OPTION, before the run
// has touched anything: a mistyped --dry-rn must never run a real night.
[[nodiscard]] int Opt_Parse(int argc, char** argv, RunOptions& opts);

#endif  // PIRZOL_RUN_OPTIONS_H_
