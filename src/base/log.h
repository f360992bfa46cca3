// Writing the log and the console trace under the run flags.
#ifndef PIRZOL_BASE_LOG_H_
#define PIRZOL_BASE_LOG_H_

#include "base/journal.h"

// Opens "pirzol.log" in the current folder for appending and keeps it in
// LogFile. Its mode is made 0640 whatever it was: it names persons with their
// sickness codes. A file above 1048576 bytes is kept as "pirzol.log.1"
// (replacing an older one) and a new log is begun. Returns 0; -1 when no log
// could be opened (the run goes on without one; said on stderr); or
// PZL_LINKED when "pirzol.log" is a symbolic link, which is never written
// through (said on stderr; the caller refuses the run).
[[nodiscard]] int Log_Open();
// Closes LogFile when it is open.
void Log_Close();

// One log entry: a message text ending in a blank, then a values part that
// ends the line. Written only when the log is open and the detail switch on.
[[gnu::format(printf, 2, 3)]] void Log_Entry(const char* text, const char* values, ...);
// A whole-line message ending in "\n", under the same condition.
void Log_Line(const char* line);
// As Log_Entry, but written whenever the log is open, whatever the switch says.
[[gnu::format(printf, 2, 3)]] void Log_Notice(const char* text, const char* values, ...);
// A failure: counted for the summary whether or not it is written, then
// written as Log_Entry (Log_FailLine as Log_Line, Log_FailNotice as Log_Notice).
[[gnu::format(printf, 2, 3)]] void Log_Fail(const char* text, const char* values, ...);
void Log_FailLine(const char* line);
[[gnu::format(printf, 2, 3)]] void Log_FailNotice(const char* text, const char* values, ...);

// Every line the batch writes on stderr, with its level (kPrioError,
// kPrioWarning, kPrioNotice or kPrioInfo of base/journal.h) said by the
// caller: fmt, with "pirzol: " at its start, ends in "\n". The level shows
// as the journal's prefix when stderr is the journal.
[[gnu::format(printf, 2, 3)]] void Log_Stderr(int priority, const char* fmt, ...);
// From now on leaves out the stderr lines of less weight than priority (a
// greater number): kPrioWarning keeps a good night silent, as cron wants it.
void Log_StderrUpTo(int priority);

// A console trace line, written while ConsoleTrace is on.
[[gnu::format(printf, 1, 2)]] void Trace(const char* fmt, ...);

#endif  // PIRZOL_BASE_LOG_H_
