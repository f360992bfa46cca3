// The run's figures as a text file for node_exporter's textfile collector:
// when the batch last ran, how it ended, what it did, and when it last
// succeeded, so that a night that failed or never ran can raise an alert.
#ifndef PIRZOL_APP_METRICS_H_
#define PIRZOL_APP_METRICS_H_

#include <cstdint>
#include <type_traits>

#include "base/fixtext.h"
#include "base/counts.h"

// As many accounted dates as one run handles at most; more are not due
// without a person deciding.
constexpr int kMetricsMaxDates = 31;

struct MetricsRun {
  std::int64_t start;                  // unix seconds when the run began
  std::int64_t end;                    // unix seconds when it ended
  int status;                          // its exit status (base/exitcodes.h)
  int dryRun;                          // 1 for --dry-run: nothing was kept
  int refusedBusy;                     // 1 when another run held the database's lock
  MldCounts counts;                    // what it did; committed work only
  int heldBack;                        // persons held back by a day not done, after it
  FixText<9> dates[kMetricsMaxDates];  // accounted dates handled, YYYYMMDD, any order
  int dateCount;                       // how many of dates are set
};
static_assert(std::is_trivially_copyable_v<MetricsRun>);

// Writes the figures of run, and the version of the build that writes them,
// to path as a new file of mode 0644 (figures only, nobody's data) that
// replaces the old one in a single rename, so the collector reads the old
// file or the new one, never a part; a link at path is replaced, never
// followed. The last success is run.end when the run ended with status 0;
// otherwise it is carried over from the file being replaced (a regular file
// only), 0 when that holds none. A dry run writes only its own
// pirzol_last_dry_run_* figures, and a start refused because another run is
// busy only pirzol_last_run_refused_busy 1; every other line of the old file
// stays, so neither changes the last run's status or its success.
// Returns 0, or the errno of the step that failed (a positive number, never
// a server's: the session is closed by then), with path left as it was and
// no temporary file behind. The run's exit status must never depend on it.
[[nodiscard]] int Metrics_Write(const char* path, const MetricsRun& run);

#endif  // PIRZOL_APP_METRICS_H_
