#include "base/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/counts.h"
#include "base/result.h"
#include "base/runflags.h"

namespace {

constexpr char kLogName[] = "pirzol.log";
constexpr char kOldLogName[] = "pirzol.log.1";
constexpr long kLogLimit = 1048576;
constexpr mode_t kLogMode = 0640;

bool LogBroken = false;
bool TraceBroken = false;
// Lines of less weight than this go nowhere (--quiet: warnings and errors only).
int StderrUpTo = kPrioInfo;

// A log that cannot be written is said once on stderr; the run goes on, as
// it does without a log at all.
void CheckLog() {
  if (LogBroken || (std::ferror(LogFile) == 0)) return;
  LogBroken = true;
  Log_Stderr(kPrioWarning,
             "pirzol: warning: writing pirzol.log failed (%s); the log is incomplete\n",
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

// Opens the log without following a link: whoever can plant one in the
// working folder must not make the batch write persons' sickness days into a
// file of his choosing. O_NONBLOCK keeps a FIFO put there from stopping the
// run at the open; for a regular file it changes nothing. 0, -1 (said on
// stderr) or PZL_LINKED; file is set on 0.
int OpenLog(std::FILE*& file) {
  file = nullptr;
  int fd = open(kLogName, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK,
                kLogMode);
  int err = fd < 0 ? errno : 0;
  if (err == ELOOP) return PZL_LINKED;
  struct stat st {};
  if (err == 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) err = EINVAL;
  if (err == 0) {
    // Exactly 0640: a umask may have taken the group's bit, an old release
    // may have left the file readable by everyone. A file of another owner
    // keeps its mode; it is the owner's to mend.
    if ((st.st_mode & 07777) != kLogMode) (void)fchmod(fd, kLogMode);
    file = fdopen(fd, "a");
    if (file != nullptr) return 0;
    err = errno;
  }
  if (fd >= 0) close(fd);
  Log_Stderr(kPrioWarning, "pirzol: warning: cannot open %s (%s); running without a log\n",
             kLogName,
             err == EINVAL ? "no regular file" : std::strerror(err));
  return -1;
}

}  // namespace

int Log_Open() {
  LogBroken = false;
  int rc = OpenLog(LogFile);
  if (rc == 0 && std::fseek(LogFile, 0, SEEK_END) == 0 && std::ftell(LogFile) > kLogLimit) {
    // Renamed while open: the old log stays whole under its new name, and
    // when that fails it is appended to rather than lost.
    if (std::rename(kLogName, kOldLogName) != 0) {
      Log_Stderr(kPrioWarning, "pirzol: warning: cannot rename %s to %s (%s); it is appended to\n",
                 kLogName, kOldLogName, std::strerror(errno));
      return 0;
    }
    std::fclose(LogFile);
    rc = OpenLog(LogFile);
  }
  if (rc == PZL_LINKED) {
    Log_Stderr(kPrioError, "pirzol: %s is a symbolic link; it is not written through\n", kLogName);
  }
  return rc;
}

void Log_Close() {
  if (LogFile != nullptr && std::fclose(LogFile) != 0 && !LogBroken) {
    Log_Stderr(kPrioWarning, "pirzol: warning: closing pirzol.log failed (%s)\n",
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

void Log_StderrUpTo(int priority) { StderrUpTo = priority; }

void Log_Stderr(int priority, const char* fmt, ...) {
  if (priority > StderrUpTo) return;
  Jrn_Level(priority);
  std::va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
  Jrn_Level(-1);
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
    Log_Stderr(kPrioWarning,
               "pirzol: warning: writing the console trace failed (%s); the run goes on\n",
               std::strerror(errno));
  }
}
