// A night shared by worker processes. Each works through one slice of a
// night's days in a session of its own, so the server works on several at
// once where one session would wait for every answer in turn. What a worker
// writes (parameter lines, log, report objects, console trace) goes to files
// of its own, which the parent puts after each other in slice order: the run
// writes what one session would have written, whichever worker ends first.
//
// Processes, not threads: the batch's state is per process, and a worker
// that crashes cannot take another's state with it.
#ifndef PIRZOL_FOLLOWUP_WORKERS_H_
#define PIRZOL_FOLLOWUP_WORKERS_H_

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// More sessions than this would only queue at the server's cores.
constexpr int kMaxWorkers = 16;

// How one worker ended.
struct WorkerEnd {
  int ended = 0;       // 1 when it ran to its end and handed back its answer
  std::string answer;  // what its work answered
};

// The work of one worker: slice, its parameter lines to param (line by
// line, so a worker that dies leaves whole lines). What it answers reaches
// the parent.
using WorkerWork = std::function<std::string(int slice, std::FILE* param)>;

// Runs work for the slices 0 to count-1, each in a child process named
// pirzol-wK that connects a session of its own and proves the lease with a
// row of its own. Waits for every one, renewing the lease's heartbeat
// meanwhile, then puts their whole lines after each other in slice order:
// parameter lines to param (none when nullptr), the log to the log, report
// objects to the report, the trace to standard output. A worker that died,
// or could not be started or connected, is said on stderr. 0 when every
// worker ended; -1 when one did not.
[[nodiscard]] int Wrk_Run(int count, std::FILE* param, const WorkerWork& work,
                          std::vector<WorkerEnd>& ends);

#endif  // PIRZOL_FOLLOWUP_WORKERS_H_
