// The run flags: set once by the start-up, read by everything else.
#ifndef PIRZOL_BASE_RUNFLAGS_H_
#define PIRZOL_BASE_RUNFLAGS_H_

#include <cstdio>

extern std::FILE* LogFile;  // the open "pirzol.log", or nullptr when it could not be opened
extern int LogDetail;       // 1 when the log switch starts with an upper-case D
extern int ConsoleTrace;    // 1 in every run
extern int KonsolMode;      // 1 when the mode word is exactly "ZELTA"
extern int DryRun;          // 1 under --dry-run: nothing the run changes is kept

#endif  // PIRZOL_BASE_RUNFLAGS_H_
