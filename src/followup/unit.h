// Units of work: the statements between two commits, kept whole or not at
// all. A step marks where a unit begins and runs its statements in a loop
// that Unit_Again closes; everything about COMMIT, ROLLBACK and trying again
// after a deadlock or a lock wait lives here and nowhere else:
//
//   Unit unit;
//   Unit_Begin(unit, tag, "TagesMld", code, kUnitAlwaysCommit);
//   do {
//     generated = ...;  // checks, cancellation, insert, slot update
//   } while (Unit_Again(unit) != 0);
//   if (Unit_Result(unit) == 0 && generated != 0) ...
#ifndef PIRZOL_FOLLOWUP_UNIT_H_
#define PIRZOL_FOLLOWUP_UNIT_H_

#include <cstddef>
#include <cstdint>

#include "base/fixtext.h"
#include "db/tag.h"
#include "base/counts.h"

// How a unit ends when its statements went through.
constexpr int kUnitAlwaysCommit = 1;  // COMMIT in any case
constexpr int kUnitCommitChanges = 0;  // COMMIT only when a row changed since the last one

// Tries before a unit is given up.
constexpr int kUnitTries = 5;

struct Unit {
  TagSatz* tag;      // the accounted day; put back as it was on every rollback
  TagSatz start;     // what it held when the unit began
  MldCounts counts;  // the run's counts when the unit began
  FixText<9> what;   // names the unit in the log and on stderr
  FixText<6> code;   // the message code it carries over, if any
  int commit;        // kUnitAlwaysCommit or kUnitCommitChanges
  int tries;         // tries ended so far
  int result;        // 0, UNIT_GIVEN_UP or DB_TXN_LOST once ended
  std::uint64_t changes;  // Db_ChangeCount when the unit began
  std::size_t report;     // the report's mark when the unit began
};

// Marks the start of a unit working on tag. Any rolled-back work still
// standing from statements run outside a unit is cleared first.
void Unit_Begin(Unit& unit, TagSatz& tag, const char* what, const char* code, int commit);
// Ends the try that ran since Unit_Begin or the last call. When the server
// kept the statements, commits as the unit asks and answers 0. When it rolled
// them back with a deadlock or a lock wait timeout, rolls back, restores tag
// and the counts, waits a short random pause that grows with each try and
// answers 1: run the unit again. After kUnitTries tries, or when the
// transaction is lost, answers 0 with the unit's result set.
[[nodiscard]] int Unit_Again(Unit& unit);
// 0 when the unit's work is committed (or there was nothing to commit),
// UNIT_GIVEN_UP, or DB_TXN_LOST.
[[nodiscard]] int Unit_Result(const Unit& unit);
// 1 once a unit lost its transaction: the session cannot go on, and the run
// must stop.
[[nodiscard]] int Unit_Lost();
// Units that ended with rows changed and kept, since the run began; a day
// tells whether it changed anything by the difference.
[[nodiscard]] std::int32_t Unit_Changed();

// The accounted day the units now work on, for the run record: a unit that
// changed rows writes the day's row as changed before its COMMIT, so the row
// becomes durable with the day's changes and costs no COMMIT of its own.
// runId 0 (no record, or a dry run) writes nothing. The texts must live
// until the next call.
void Unit_Record(const char* date, const char* pnr, std::int64_t runId);
// 1 when a unit of the present day committed the day's row as changed.
[[nodiscard]] int Unit_Recorded();

// Under DryRun a unit that went through is taken as committed without a
// COMMIT: everything stays in the one transaction the run rolls back at its
// end. A conflict cannot be redone there without losing what came before,
// so it ends the run as a lost transaction would.

#endif  // PIRZOL_FOLLOWUP_UNIT_H_
