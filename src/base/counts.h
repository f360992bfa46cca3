// What a run did, for the summary the operator reads at its end. Counts of
// database work cover committed work only: a unit of work that is rolled
// back takes its counts back with it.
#ifndef PIRZOL_BASE_COUNTS_H_
#define PIRZOL_BASE_COUNTS_H_

#include <cstdint>

struct MldCounts {
  std::int32_t nightsDone;  // nights walked to their end
  std::int32_t daysSkipped; // placeholder days recorded as handled by an earlier run
  std::int32_t daysRead;    // placeholder days handled
  std::int32_t daysFound;   // of them, days whose last message day was found
  std::int32_t generated;   // follow-ups generated (Mld_Generate returned 1)
  std::int32_t cancelled;   // bookings cancelled to function 45
  std::int32_t failures;    // failures met, logged or not (Log_Fail)
  std::int32_t commits;     // COMMITs the server accepted
  std::int32_t retries;     // units of work rolled back and run again
  std::int32_t givenUp;     // units of work that failed on every try
  std::int32_t pending;     // stale follow-ups left for a run with --correct
  std::int32_t takenBack;   // follow-ups a correction took back
  std::int32_t refused;     // days a correction left to the persons who changed them
  std::int32_t daysFailed;  // placeholder days whose work was left undone
  std::int32_t daysHeld;    // placeholder days passed over: an earlier day of the person is not done
};

extern MldCounts MldCount;

#endif  // PIRZOL_BASE_COUNTS_H_
