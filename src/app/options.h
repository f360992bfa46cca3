// The command line: the three parameters, the options that choose the
// nights a run handles and what it leaves behind, and how it connects.
#ifndef PIRZOL_APP_OPTIONS_H_
#define PIRZOL_APP_OPTIONS_H_

#include "base/fixtext.h"
#include "followup/nights.h"

struct CmdLine {
  // CONFIG, MODE and SWITCH in this order; nullptr where the word is missing.
  const char* param[3];
  int help;                     // --help: the usage with every option, nothing run
  int version;                  // --version: the version, nothing run
  int quiet;                    // --quiet: stderr carries warnings and errors only
  FixText<1024> defaultsFile;   // --defaults-file=FILE; empty when not given
  RunOptions run;
};

// Reads the whole command line with getopt_long: options may stand anywhere
// and "--" ends them. A word where a parameter belongs that begins with "-"
// (unless after "--"), an unknown option, a malformed date, a value that does
// not fit or a contradiction is said on stderr and answers PZL_BAD_OPTION,
// before the run has touched anything: a forgotten SWITCH must not let
// --dry-run stand in for it and run a real night. Words after the three
// parameters stay ignored, as they always were. Fewer than three parameters
// answer 0 with the missing ones nullptr: the caller shows the usage.
[[nodiscard]] int Opt_Parse(int argc, char** argv, CmdLine& cmd);

// The options and exit statuses, for --help after the usage's head.
extern const char kOptHelp[];

#endif  // PIRZOL_APP_OPTIONS_H_
