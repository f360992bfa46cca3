// The program's entry: command line, run flags, log, connection values,
// connection, the batch run and the exit status.
#ifndef PIRZOL_APP_STARTUP_H_
#define PIRZOL_APP_STARTUP_H_

// Runs pirzol with its command line; returns the exit status (base/exitcodes.h).
[[nodiscard]] int Pzl_Main(int argc, char** argv);

// Upper-cases a to z of text in place (every other byte stays) and returns it.
char* Str_Upper(char* text);

#endif  // PIRZOL_APP_STARTUP_H_
