#include "base/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/counts.h"
#include "base/runflags.h"

namespace {

constexpr char kLogName[] = "pirzol.log";
constexpr long kLogLimit = 1048576;
constexpr mode_t kLogMode = 0640;

bool LogBroken = false;
bool TraceBroken = false;

// A log that cannot be written is said once on stderr; the run goes on, as
// it does without a log at all.
void CheckLog() {
  if (LogBroken || (std::ferror(LogFile) == 0)) return;
  LogBroken = true;
  std::fprintf(stderr, "pirzol: warning: writing pirzol.log failed (%s); the log is incomplete\n",
               std::strerror(errno));
}

[[gnu::format(printf, 2, 0)]] void WriteEntry(const char* text, const char* values,
                                             std::va_list ap) {
  std::fputs(text, LogFile);
  std::vfprintf(LogFile, values, ap);
  // Flushed per entry: the log is what an operator reads after a run that
  // ended badly, so it must hold everything up to the last step taken.
  std::fflush(LogFile);
  CheckLog();
}

std::FILE* OpenLog() {
  int fd = open(kLogName, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kLogMode);
  if (fd < 0) return nullptr;
  // A log left readable by everyone by an earlier release is closed to others.
  struct stat st {};
  if (fstat(fd, &st) == 0 && (st.st_mode & 0007) != 0) (void)fchmod(fd, st.st_mode & 0770);
  std::FILE* f = fdopen(fd, "a");
  if (f == nullptr) close(fd);
  return f;
}

}  // namespace

int Log_Open() {
  LogBroken = false;
  LogFile = OpenLog();
  if (LogFile == nullptr) return -1;
  if (std::fseek(LogFile, 0, SEEK_END) == 0 && std::ftell(LogFile) > kLogLimit) {
    std::fclose(LogFile);
    std::remove(kLogName);
    LogFile = OpenLog();
    if (LogFile == nullptr) return -1;
  }
  return 0;
}

void Log_Close() {
  if (LogFile != nullptr && std::fclose(LogFile) != 0 && !LogBroken) {
    std::fprintf(stderr, "pirzol: warning: closing pirzol.log failed (%s)\n",
                 std::strerror(errno));
  }
  LogFile = nullptr;
}

void Log_Entry(const char* text, const char* values, ...) {
  if (LogFile == nullptr || LogDetail == 0) return;
  std::va_list ap;
  va_start(ap, values);
  WriteEntry(text, values, ap);
  va_end(ap);
}

void Log_Line(const char* line) {
  if (LogFile == nullptr || LogDetail == 0) return;
  std::fputs(line, LogFile);
  std::fflush(LogFile);
  CheckLog();
}

void Log_Notice(const char* text, const char* values, ...) {
  if (LogFile == nullptr) return;
  std::va_list ap;
  va_start(ap, values);
  WriteEntry(text, values, ap);
  va_end(ap);
}

void Log_Fail(const char* text, const char* values, ...) {
  ++MldCount.failures;
  if (LogFile == nullptr || LogDetail == 0) return;
  std::va_list ap;
  va_start(ap, values);
  WriteEntry(text, values, ap);
  va_end(ap);
}

void Log_FailLine(const char* line) {
  ++MldCount.failures;
  Log_Line(line);
}

void Log_FailNotice(const char* text, const char* values, ...) {
  ++MldCount.failures;
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
  int n = std::vprintf(fmt, ap);
  va_end(ap);
  // A reader that went away (a closed pipe) must not take the run with it;
  // SIGPIPE is ignored, and the loss is said once.
  if (n < 0 && !TraceBroken) {
    TraceBroken = true;
    std::fprintf(stderr, "pirzol: warning: writing the console trace failed (%s); the run goes on\n",
                 std::strerror(errno));
  }
}
