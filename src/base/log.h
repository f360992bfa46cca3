// Writing the log and the console trace under the run flags.
#ifndef PIRZOL_BASE_LOG_H_
#define PIRZOL_BASE_LOG_H_

// Opens "pirzol.log" in the current folder for appending (created with mode
// 0640: it names persons with their sickness codes) and keeps it in LogFile;
// a file above 1048576 bytes is deleted and begun anew. Returns 0, or -1 when
// no log could be opened (the run goes on without one).
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

// A console trace line, written while ConsoleTrace is on.
[[gnu::format(printf, 1, 2)]] void Trace(const char* fmt, ...);

#endif  // PIRZOL_BASE_LOG_H_
