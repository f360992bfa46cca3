#include "followup/workers.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/exitcodes.h"
#include "base/log.h"
#include "base/runflags.h"
#include "db/db.h"
#include "followup/lease.h"
#include "followup/report.h"
#include "followup/unit.h"

namespace {

enum Stream { kParam, kLog, kReport, kTrace, kAnswer, kStreams };

// While the workers run, the parent looks this often whether the lease's
// heartbeat is due; an ending worker wakes it at once.
constexpr long kWaitNs = 200L * 1000 * 1000;

struct Worker {
  pid_t pid = -1;
  int fd[kStreams] = {-1, -1, -1, -1, -1};
  int status = 0;
  bool reaped = false;
};

// A file nobody else can open: without a name where the kernel allows it,
// else named, made anew and unlinked at once. It holds persons' days, and
// nothing of it stays behind when the run ends, however it ends.
int AnonymousFile() {
  int fd = open(".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  char name[] = "pirzol.wXXXXXX";
  fd = mkostemp(name, O_CLOEXEC);
  if (fd >= 0) (void)unlink(name);
  return fd;
}

void CloseFiles(Worker& w) {
  for (int& fd : w.fd) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

// Appends what fd holds up to its last newline to out: what follows it is
// a line a dying worker did not finish. false when it could not be read or
// written whole.
bool CopyLines(int fd, std::FILE* out) {
  if (out == nullptr) return true;
  off_t size = lseek(fd, 0, SEEK_END);
  if (size <= 0) return size == 0;
  char buf[65536];
  off_t keep = 0;
  for (off_t end = size; end > 0 && keep == 0;) {
    off_t at = end > static_cast<off_t>(sizeof buf) ? end - static_cast<off_t>(sizeof buf) : 0;
    ssize_t n = pread(fd, buf, static_cast<std::size_t>(end - at), at);
    if (n <= 0) return false;
    for (ssize_t i = n; i > 0; --i) {
      if (buf[i - 1] == '\n') {
        keep = at + i;
        break;
      }
    }
    end = at;
  }
  for (off_t at = 0; at < keep;) {
    std::size_t want = static_cast<std::size_t>(std::min<off_t>(keep - at, sizeof buf));
    ssize_t n = pread(fd, buf, want, at);
    if (n <= 0) return false;
    if (std::fwrite(buf, 1, static_cast<std::size_t>(n), out) != static_cast<std::size_t>(n)) {
      return false;
    }
    at += n;
  }
  return std::fflush(out) == 0;
}

// True when standard output goes nowhere: the workers' trace is then not
// written at all, where it would cost a kilobyte a day on disk.
bool TraceDiscarded() {
  struct stat out {};
  struct stat null {};
  return fstat(STDOUT_FILENO, &out) == 0 && stat("/dev/null", &null) == 0 &&
         out.st_rdev == null.st_rdev && S_ISCHR(out.st_mode);
}

std::string ReadAll(int fd) {
  std::string text;
  char buf[4096];
  off_t at = 0;
  for (ssize_t n; (n = pread(fd, buf, sizeof buf, at)) > 0; at += n) text.append(buf, n);
  return text;
}

bool WriteAll(int fd, const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    ssize_t n = write(fd, text.data() + at, text.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += static_cast<std::size_t>(n);
  }
  return true;
}

[[noreturn]] void Work(int slice, Worker& w, pid_t parent, const sigset_t& mask,
                       bool trace, const WorkerWork& work) {
  // A worker must not outlive its run: without the parent's named lock and
  // lease another run could start beside it.
  (void)prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(kExitIncomplete);
  sigprocmask(SIG_SETMASK, &mask, nullptr);
  char name[32] = {};  // the kernel keeps 15 characters
  std::snprintf(name, sizeof name, "pirzol-w%d", slice + 1);
  (void)prctl(PR_SET_NAME, name);

  if (trace) (void)dup2(w.fd[kTrace], STDOUT_FILENO);
  // A stream that cannot be had fails the worker: the run must not put a
  // report in place that lacks a slice.
  const bool report = Rpt_Stream() != nullptr;
  if (LogFile != nullptr && (LogFile = fdopen(w.fd[kLog], "w")) == nullptr) {
    _exit(kExitIncomplete);
  }
  if (report) {
    std::FILE* f = fdopen(w.fd[kReport], "w");
    if (f == nullptr) _exit(kExitIncomplete);
    Rpt_Divert(f);
  }
  std::FILE* param = fdopen(w.fd[kParam], "w");
  if (param != nullptr) std::setvbuf(param, nullptr, _IOLBF, 0);
  if (Db_ConnectChild() != 0) {
    Log_Stderr(kPrioError, "pirzol: worker %d could not connect to the database (%d): %s\n",
               slice + 1, Db_ErrNo(), Db_ErrText());
    _exit(kExitIncomplete);
  }
  // One address may reach several nodes of a cluster: the last night's
  // follow-ups, committed through others, are this night's last messages.
  if (Db_CatchUp() != 0) {
    Log_Stderr(kPrioError, "pirzol: worker %d could not catch up with the cluster (%d): %s\n",
               slice + 1, Db_ErrNo(), Db_ErrText());
    _exit(kExitIncomplete);
  }
  Lease_Slot(slice + 1);
  std::string answer = work(slice, param);
  std::fflush(nullptr);
  bool told = WriteAll(w.fd[kAnswer], answer);
  Db_Disconnect();
  _exit(told ? kExitOk : kExitIncomplete);
}

// How often, without a lease, the parent asks whether its session still
// holds the run lock that keeps other runs out.
constexpr int kLockCheckSeconds = 30;

// Waits for every started worker; the parent's session renews the lease in
// the meantime, since the workers' rows are not its heartbeat. Without a
// lease the run lock is all that keeps another run out: when the parent's
// session lost it, the workers are stopped before they commit more.
void WaitForAll(std::vector<Worker>& workers, const sigset_t& childSignal) {
  std::time_t checked = std::time(nullptr);
  for (;;) {
    bool alive = false;
    for (Worker& w : workers) {
      if (w.pid <= 0 || w.reaped) continue;
      pid_t r = waitpid(w.pid, &w.status, WNOHANG);
      if (r == w.pid || (r < 0 && errno == ECHILD)) {
        w.reaped = true;
      } else {
        alive = true;
      }
    }
    if (!alive) return;
    timespec wait{0, kWaitNs};
    (void)sigtimedwait(&childSignal, nullptr, &wait);
    (void)Unit_Beat();  // a lost lease is found again by Unit_Lost
    if (Lease_Held() == 0 && std::time(nullptr) - checked >= kLockCheckSeconds) {
      checked = std::time(nullptr);
      if (Db_LockHeld() != 1) {
        Log_Stderr(kPrioError, "pirzol: the run's session no longer holds the database's lock "
                   "(%d); the workers are stopped\n", Db_ErrNo());
        for (Worker& w : workers) {
          if (w.pid > 0 && !w.reaped) (void)kill(w.pid, SIGKILL);
        }
      }
    }
  }
}

}  // namespace

int Wrk_Run(int count, std::FILE* param, const WorkerWork& work, std::vector<WorkerEnd>& ends) {
  ends.assign(static_cast<std::size_t>(count), WorkerEnd{});
  std::vector<Worker> workers(static_cast<std::size_t>(count));
  sigset_t childSignal;
  sigset_t mask;
  sigemptyset(&childSignal);
  sigaddset(&childSignal, SIGCHLD);
  sigprocmask(SIG_BLOCK, &childSignal, &mask);
  // Ignored, the children would be reaped unseen and a killed worker unknown.
  struct sigaction dfl {};
  struct sigaction old {};
  dfl.sa_handler = SIG_DFL;
  sigaction(SIGCHLD, &dfl, &old);
  const bool trace = !TraceDiscarded();
  // Whatever waits in a buffer would be written by every worker again.
  std::fflush(nullptr);
  const pid_t parent = getpid();
  for (int k = 0; k < count; ++k) {
    Worker& w = workers[static_cast<std::size_t>(k)];
    bool made = true;
    for (int& fd : w.fd) made = made && (fd = AnonymousFile()) >= 0;
    if (made) w.pid = fork();
    if (w.pid == 0) Work(k, w, parent, mask, trace, work);
    if (w.pid < 0) {
      Log_Stderr(kPrioError, "pirzol: worker %d could not be started (%s); its slice is not "
                 "handled\n", k + 1, std::strerror(errno));
    }
  }
  WaitForAll(workers, childSignal);
  sigaction(SIGCHLD, &old, nullptr);
  sigprocmask(SIG_SETMASK, &mask, nullptr);

  int rc = 0;
  for (int k = 0; k < count; ++k) {
    Worker& w = workers[static_cast<std::size_t>(k)];
    WorkerEnd& end = ends[static_cast<std::size_t>(k)];
    if (w.pid > 0) {
      // Lost lines fail the night; a lost part of the report fails the
      // report; the log and the trace are said to be broken where they are
      // written, as in a run of one session.
      bool copied = CopyLines(w.fd[kParam], param);
      if (!CopyLines(w.fd[kReport], Rpt_Stream())) Rpt_Broken();
      (void)CopyLines(w.fd[kLog], LogFile);
      if (trace) (void)CopyLines(w.fd[kTrace], stdout);
      end.answer = ReadAll(w.fd[kAnswer]);
      end.ended = copied && WIFEXITED(w.status) && WEXITSTATUS(w.status) == kExitOk &&
                  !end.answer.empty();
      if (WIFSIGNALED(w.status)) {
        Log_Stderr(kPrioError, "pirzol: worker %d was ended by signal %d; the days of its slice "
                   "it did not complete are completed by the next run\n",
                   k + 1, WTERMSIG(w.status));
      }
    }
    if (end.ended == 0) rc = -1;
    CloseFiles(w);
  }
  return rc;
}
