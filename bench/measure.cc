// Runs a program and reports what it cost the client side: wall time, user
// and system CPU and peak resident memory, taken from the kernel's account of
// the finished child (wait4), so nothing in the measured program changes.
//
//   pirzol-measure OUTFILE PROGRAM [ARGS...]
//
// Standard streams pass through to the child. OUTFILE receives one line:
// "wall=S user=S sys=S maxrss_kb=N status=N"; the exit status is the child's.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace {

double Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double Seconds(const timeval& tv) {
  return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: pirzol-measure OUTFILE PROGRAM [ARGS...]\n");
    return 2;
  }
  double start = Now();
  pid_t pid = fork();
  if (pid < 0) {
    std::perror("pirzol-measure: fork");
    return 2;
  }
  if (pid == 0) {
    execv(argv[2], argv + 2);
    std::perror("pirzol-measure: exec");
    _exit(127);
  }
  int status = 0;
  rusage use{};
  if (wait4(pid, &status, 0, &use) != pid) {
    std::perror("pirzol-measure: wait4");
    return 2;
  }
  double wall = Now() - start;
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::FILE* out = std::fopen(argv[1], "w");
  if (out == nullptr) {
    std::perror("pirzol-measure: OUTFILE");
    return 2;
  }
  // ru_maxrss is in kilobytes on Linux.
  std::fprintf(out, "wall=%.3f user=%.3f sys=%.3f maxrss_kb=%ld status=%d\n", wall,
               Seconds(use.ru_utime), Seconds(use.ru_stime), use.ru_maxrss, code);
  std::fclose(out);
  return code;
}
