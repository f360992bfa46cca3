// Which nights a run handles: the dates after the newest night the run
// record holds as complete up to yesterday, or the dates the options name.
#ifndef PIRZOL_FOLLOWUP_NIGHTS_H_
#define PIRZOL_FOLLOWUP_NIGHTS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/fixtext.h"

// What the command line asks of the run.
struct RunOptions {
  FixText<9> day;         // --day=YYYY-MM-DD as YYYYMMDD; empty when not given
  FixText<9> from;        // --from=YYYY-MM-DD as YYYYMMDD; empty when not given
  int again;              // --again: handle days recorded as handled
  int dryRun;             // --dry-run: do everything, keep nothing
  int correct;            // --correct: take back stale follow-ups and derive their days again
  int workers;            // --workers=N: sessions sharing each night; 0 or 1 for one
  FixText<1024> report;   // --report=FILE; empty when not given
  FixText<1024> metrics;  // --metrics=FILE; empty when not given
  FixText<256> work;      // the options that choose the work, as given, for the record
};

// More nights than this wait for a person to decide how to catch up.
constexpr int kMaxNights = 31;

struct NightPlan {
  int record = 0;                  // 1 when the database holds the run record
  std::int64_t runId = 0;          // the run's row in the record, 0 without one
  std::vector<std::string> dates;  // YYYYMMDD, oldest first
  FixText<9> newest;               // the newest complete night before this run, or empty
  int heldBack = 0;                // persons held back by a day not done, after the run
};

// Decides the dates from the options, the record and the server's
// yesterday (YYYYMMDD). 0, PZL_FUTURE_DATE or PZL_TOO_MANY_NIGHTS (each said
// on stderr, nothing changed), or the server's error number.
[[nodiscard]] int Mld_Plan(const RunOptions& opts, const char* yesterday, NightPlan& plan);

// The day after day (YYYYMMDD) into next; 0, or -1 for no date.
[[nodiscard]] int Day_Next(const char* day, FixText<9>& next);
// The day count days before day (YYYYMMDD) into back; 0, or -1 for no date.
[[nodiscard]] int Day_Back(const char* day, int count, FixText<9>& back);

#endif  // PIRZOL_FOLLOWUP_NIGHTS_H_
