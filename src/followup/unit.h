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
  int result;        // 0, UNIT_GIVEN_UP, DB_TXN_LOST or PZL_LEASE_LOST once ended
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
// UNIT_GIVEN_UP, DB_TXN_LOST, or PZL_LEASE_LOST.
[[nodiscard]] int Unit_Result(const Unit& unit);
// 1 once a unit lost its transaction, or the run its lease: the session
// cannot go on, and the run must stop.
[[nodiscard]] int Unit_Lost();
// Units that ended with rows changed and kept, since the run began; a day
// tells whether it changed anything by the difference.
[[nodiscard]] std::int32_t Unit_Changed();

// The accounted day the units now work on, for the run record. runId 0 (no
// record, or a dry run) writes nothing. begun is 1 when an earlier run left
// the day open or failed: some of its units may be committed already. The
// texts must live until the next call.
//
// A day's row says changed or nothing only once all of its work is
// committed: a unit that changes rows before the day's last writes the row
// as open, and the day's last unit writes the outcome (Unit_DayRow) and
// commits it with its own work, so a run cut short inside a day leaves the
// day to be completed by the next.
void Unit_Day(const char* date, const char* pnr, std::int64_t runId, int begun);
// 1 when the present day was left open or failed by an earlier run.
[[nodiscard]] int Unit_DayBegun();
// 1 when a unit of the present day committed a change.
[[nodiscard]] int Unit_DayChanged();
// Writes the present day's row into the open transaction: "failed" when a
// failure was counted since Unit_Day, else "changed" when the day changed a
// row, else "nothing"; line tells whether its parameter line is written.
// Inside a unit the row goes with the unit's COMMIT; a refusal fails the
// unit and stops the run (a day must not be kept without its row). Outside,
// it goes with the next COMMIT. 0 or the error number (said on stderr).
[[nodiscard]] int Unit_DayRow(int line);
// Inside a unit: when it changes rows, it is the present day's last change,
// so it writes the day's final row (as Unit_DayRow(line)) instead of an
// open one, and the day needs no row after it.
void Unit_DayFinal(int line);
// Writes the present day's row as "held": its person has an earlier day not
// done, so this one waits. Goes with the next COMMIT. 0 or the error.
[[nodiscard]] int Unit_DayHeld();
// 1 when work on the present day was left undone: a failure counted since
// Unit_Day (a statement refused, a read that failed), a unit given up, or
// its row refused by the record.
[[nodiscard]] int Unit_DayFailed();
// 1 once the present day's row is committed, or written and waiting for the
// next COMMIT.
[[nodiscard]] int Unit_DayRowWritten();
// Between days: when the lease's heartbeat is due, renews it with a COMMIT
// of its own (and the rows waiting for one). 0, or PZL_LEASE_LOST when the
// lease was found lost and the run must stop.
[[nodiscard]] int Unit_Beat();
// Commits the run's own bookkeeping between units (the run's row, a
// complete night, the end), with the lease shown first on a cluster; a
// COMMIT of nothing is not counted. 1 when
// the server kept it; 0 when not (the caller says what was not kept; a lost
// lease is said here and stops the run as Unit_Lost tells).
[[nodiscard]] int Unit_Commit();

// Under DryRun a unit that went through is taken as committed without a
// COMMIT and counts none: everything stays in the one transaction the run
// rolls back at its end. A conflict, in a unit or standing from a statement
// before it, cannot be redone there without losing what came before, so it
// ends the run as a lost transaction would.

#endif  // PIRZOL_FOLLOWUP_UNIT_H_
