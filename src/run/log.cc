#include "run/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "run/counts.h"
#include "run/runflags.h"

namespace {

constexpr char kLogName[] = "pirzol.log";
constexpr long kLogLimit = 1048576;

[[gnu::format(printf, 2, 0)]] void WriteEntry(const char* text, const char* values,
                                             std::va_list ap) {
  std::fputs(text, LogFile);
  std::vfprintf(LogFile, values, ap);
  // Flushed per entry: the log is what an operator reads after a run that
  // ended badly, so it must hold everything up to the last step taken.
  std::fflush(LogFile);
}

}  // namespace

int Log_Open() {
  LogFile = std::fopen(kLogName, "a");
  if (LogFile == nullptr) return -1;
  if (std::fseek(LogFile, 0, SEEK_END) == 0 && std::ftell(LogFile) > kLogLimit) {
    std::fclose(LogFile);
    std::remove(kLogName);
    LogFile = std::fopen(kLogName, "a");
    if (LogFile == nullptr) return -1;
  }
  return 0;
}

void Log_Close() {
  if (LogFile != nullptr) std::fclose(LogFile);
  LogFile = nullptr;
}

namespace {

void CountFailure(const char* text) {
  // Counted whether or not the entry is written: the run summary must tell
  // of failures also when the detailed log is off.
  if (std::strncmp(text, "Fehler", 6) == 0) ++MldCount.failures;
}

}  // namespace

void Log_Entry(const char* text, const char* values, ...) {
  CountFailure(text);
  if (LogFile == nullptr || LogDetail == 0) return;
  std::va_list ap;
  va_start(ap, values);
  WriteEntry(text, values, ap);
  va_end(ap);
}

void Log_Line(const char* line) {
  CountFailure(line);
  if (LogFile == nullptr || LogDetail == 0) return;
  std::fputs(line, LogFile);
  std::fflush(LogFile);
}

void Log_Notice(const char* text, const char* values, ...) {
  CountFailure(text);
  if (LogFile == nullptr) return;
  std::va_list ap;
  va_start(ap, values);
  WriteEntry(text, values, ap);
  va_end(ap);
}

void Trace(const char* fmt, ...) {
  if (ConsoleTrace == 0) return;
  std::va_list ap;
  va_start(ap, fmt);
  std::vprintf(fmt, ap);
  va_end(ap);
}
