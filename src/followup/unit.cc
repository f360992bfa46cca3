#include "followup/unit.h"

#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "db/db.h"
#include "db/lau.h"
#include "base/result.h"
#include "followup/lease.h"
#include "followup/report.h"
#include "base/log.h"
#include "base/runflags.h"

namespace {

constexpr char kTxtRetry[] = "Info: Arbeitseinheit wird wiederholt! ";
constexpr char kValRetry[] = "RC:%d Pnr:%s Tag:%s Einheit:%s%s%s Versuch:%d\n";
constexpr char kTxtGivenUp[] = "Fehler(Einheit): Arbeitseinheit aufgegeben! ";
constexpr char kTxtLost[] = "Fehler(Einheit): Transaktion verloren! ";
constexpr char kValUnit[] = "RC:%d Pnr:%s Tag:%s Einheit:%s%s%s\n";

// The first pause; each further try doubles it. Random within half of it
// either way, so two sessions that met once do not meet again in step.
constexpr long kPauseMs = 100;

bool RunLost = false;
const char* LastOutcome = "";  // of the row written last, a literal
int LastLine = 0;
std::int32_t ChangedUnits = 0;
bool InUnit = false;
// A record row the server refused inside the present try: the unit must not
// commit its work without it.
int RowRefused = 0;

// The present accounted day and its row in the record.
struct DayRow {
  const char* date = nullptr;
  const char* pnr = nullptr;
  std::int64_t run = 0;
  bool begun = false;       // an earlier run left it open or failed
  bool changed = false;     // a unit of the day committed a change
  bool rowInTxn = false;    // its row is in the open transaction
  bool rowOpen = false;     // the row in the transaction says open
  bool rowKept = false;     // its row is committed
  bool openKept = false;    // its row is committed as open
  std::int32_t failures = 0;  // the run's counts when the day began
  std::int32_t givenUp = 0;
  bool refused = false;     // the record refused its row
  bool final = false;       // the unit at work is the day's last change
  int finalLine = 0;
};
DayRow Row;

// Rows of days whose last unit changed nothing, written but not yet
// committed: they go with the next COMMIT, and a rollback before it must
// not take them along, or a night would be recorded complete with a day
// whose row is missing.
struct Riding {
  std::string date;
  std::string pnr;
  std::int64_t run;
  std::string outcome;
  int line;
};
std::vector<Riding> Waiting;

void Ride(const char* outcome, int line) {
  Waiting.push_back(Riding{Row.date, Row.pnr, Row.run, outcome, line});
}

// Ends the open transaction without keeping it, and writes the waiting rows
// into the next one.
void Rollback() {
  // A session that is gone keeps nothing; the run stops, and the next one
  // finds those days without their rows.
  if (Db_Rollback() != 1) return;
  for (const Riding& r : Waiting) {
    if (Lat_Insert(r.date.c_str(), r.pnr.c_str(), r.run, r.outcome.c_str(), r.line) != 0) {
      // Written again by the next run, which finds the day without its row.
      Log_Stderr(kPrioError, "pirzol: the run record lost the row of person %s on %s (%d)\n",
                 r.pnr.c_str(), r.date.c_str(), Db_ErrNo());
      break;
    }
  }
}

// What a COMMIT the server accepted has kept.
void Kept() {
  Waiting.clear();
  Lease_Kept();
  if (Row.rowInTxn) {
    Row.rowKept = !Row.rowOpen;
    Row.openKept = Row.rowOpen;
    Row.rowInTxn = false;
  }
}

int WriteRow(const char* outcome, int line) {
  int rc = Lat_Insert(Row.date, Row.pnr, Row.run, outcome, line);
  if (rc == 0) {
    Row.rowInTxn = true;
    Row.rowOpen = std::strcmp(outcome, "open") == 0;
    LastOutcome = outcome;
    LastLine = line;
    return 0;
  }
  if (Db_TxnError() == 0) {
    Log_Stderr(kPrioError, "pirzol: the run record refused the row of person %s on %s (%d): %s\n",
               Row.pnr, Row.date, rc, Db_ErrText());
    Row.refused = true;
    if (InUnit) RowRefused = rc;
  }
  return rc;
}

// What the present day's row says once its work is done.
const char* DayOutcome() {
  const bool failed = MldCount.failures != Row.failures || MldCount.givenUp != Row.givenUp;
  return failed ? "failed" : (Row.changed || Db_TxnChanged() != 0) ? "changed" : "nothing";
}

void Pause(int tries) {
  // Seeded again in each worker: inherited, the pauses would be in step.
  static std::minstd_rand random;
  static pid_t seeded = 0;
  if (seeded != getpid()) {
    seeded = getpid();
    random.seed(static_cast<unsigned>(time(nullptr)) ^ static_cast<unsigned>(seeded));
  }
  long base = kPauseMs << (tries - 1);
  std::uniform_int_distribution<long> spread(base / 2, base + base / 2);
  long ms = spread(random);
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

// YYYYMMDD as YYYY-MM-DD for the lines an operator reads on stderr.
void Dashed(const char* day, char* out, std::size_t size) {
  std::snprintf(out, size, "%.4s-%.2s-%.2s", day, std::strlen(day) >= 6 ? day + 4 : "",
                std::strlen(day) >= 8 ? day + 6 : "");
}

const char* Sep(const Unit& unit) { return unit.code.empty() ? "" : ":"; }

}  // namespace

void Unit_Begin(Unit& unit, TagSatz& tag, const char* what, const char* code, int commit) {
  unit.tag = &tag;
  unit.start = tag;
  unit.counts = MldCount;
  unit.what.assign(what);
  unit.code.assign(code);
  unit.commit = commit;
  unit.tries = 0;
  unit.result = 0;
  unit.changes = Db_ChangeCount();
  unit.report = Rpt_Mark();
  InUnit = true;
  RowRefused = 0;
  Row.final = false;
  int err = Db_TxnError();
  if (err != 0 && Db_Retryable(err) != 0) {
    if (DryRun != 0) {
      // The rollback would take every unit before it along: the dry run could
      // no longer tell what the real run does.
      RunLost = true;
      Log_Stderr(kPrioError,
                 "pirzol: the transaction was rolled back (%d: %s); the dry run met other "
                 "work at the same rows; run it again\n",
                 err, Db_ErrText());
      return;
    }
    Rollback();
  }
}

int Unit_Again(Unit& unit) {
  if (Unit_Lost() != 0) {
    // Lost before the unit began (a dry run's standing conflict, the lease):
    // nothing of it may be kept.
    (void)Db_Rollback();
    unit.result = DB_TXN_LOST;
    InUnit = false;
    return 0;
  }
  int err = Db_TxnError();
  bool leaseLost = false;
  if (err == 0 && RowRefused != 0) err = RowRefused;
  if (err == 0) {
    const bool changed = Db_ChangeCount() != unit.changes;
    // A day's row written by a unit that changed nothing waits for the next
    // COMMIT: lost, the day is handled again, and an open day is completed
    // without redoing what its committed units did.
    if (unit.commit == kUnitCommitChanges && !changed) {
      if (Row.rowInTxn) Ride(LastOutcome, LastLine);
      InUnit = false;
      return 0;
    }
    // A change before the day's last unit: the day is open until that one.
    if (changed && Row.run > 0 && !Row.rowInTxn && Row.final) {
      (void)WriteRow(DayOutcome(), Row.finalLine);
    } else if (changed && Row.run > 0 && !Row.rowInTxn && !Row.openKept) {
      (void)WriteRow("open", 1);
    }
    err = Db_TxnError();
    if (err == 0 && RowRefused != 0) err = RowRefused;
    if (err == 0 && Db_TxnWrote() != 0) {
      int rc = Lease_Hold();
      if (rc == PZL_LEASE_LOST) {
        leaseLost = true;
        err = rc;
      } else if (rc != 0) {
        err = Db_TxnError() != 0 ? Db_TxnError() : rc;
      }
    }
    if (err == 0 && (DryRun != 0 || Db_Commit() == 1)) {
      if (DryRun == 0) ++MldCount.commits;
      if (changed) {
        ++ChangedUnits;
        Row.changed = true;
      }
      Kept();
      InUnit = false;
      return 0;
    }
    if (err == 0) err = Db_TxnError();
  }
  ++unit.tries;
  char why[160] = {};
  std::snprintf(why, sizeof why, "%s", Db_ErrText());  // the rollback may replace it
  Rollback();  // after a deadlock the server has done it; after a lock wait not
  Row.rowInTxn = false;
  RowRefused = 0;
  // What the rolled-back try changed is gone: the next try's changes are
  // told from here.
  unit.changes = Db_ChangeCount();
  *unit.tag = unit.start;
  // Counts stand for committed work: what the rolled-back try did is undone.
  MldCount.generated = unit.counts.generated;
  MldCount.cancelled = unit.counts.cancelled;
  const TagSatz& tag = unit.start;
  char day[16] = {};
  Dashed(tag.TagTag.c_str(), day, sizeof day);

  if (Db_Retryable(err) == 0 || DryRun != 0 || leaseLost) {
    unit.result = leaseLost ? PZL_LEASE_LOST : DB_TXN_LOST;
    RunLost = true;
    InUnit = false;
    Rpt_GiveUp(unit.report);
    Log_FailNotice(kTxtLost, kValUnit, err, tag.TagPnr.c_str(), tag.TagTag.c_str(),
                   unit.what.c_str(), Sep(unit), unit.code.c_str());
    if (leaseLost) {
      Log_Stderr(kPrioError, "pirzol: %s%s%s of person %s on %s was not committed\n",
                 unit.what.c_str(), Sep(unit), unit.code.c_str(), tag.TagPnr.c_str(), day);
      return 0;
    }
    Log_Stderr(kPrioError,
               "pirzol: the transaction was lost (%d: %s) in %s%s%s of person %s on %s; "
               "nothing since the last commit was kept, and the run stops\n",
               err, why, unit.what.c_str(), Sep(unit), unit.code.c_str(),
               tag.TagPnr.c_str(), day);
    if (DryRun != 0) {
      Log_Stderr(kPrioError, "pirzol: the dry run met other work at the same rows; run it again\n");
    }
    return 0;
  }
  if (unit.tries >= kUnitTries) {
    unit.result = UNIT_GIVEN_UP;
    InUnit = false;
    ++MldCount.givenUp;
    Rpt_GiveUp(unit.report);
    Log_FailNotice(kTxtGivenUp, kValUnit, err, tag.TagPnr.c_str(), tag.TagTag.c_str(),
                   unit.what.c_str(), Sep(unit), unit.code.c_str());
    Log_Stderr(kPrioError,
               "pirzol: gave up %s%s%s of person %s on %s after %d tries (%d: %s); nothing of "
               "it was kept\n",
               unit.what.c_str(), Sep(unit), unit.code.c_str(), tag.TagPnr.c_str(), day,
               unit.tries, err, why);
    return 0;
  }
  // The failures of a try that is redone are superseded by the next try; the
  // log keeps them, and this line says why they are there.
  MldCount.failures = unit.counts.failures;
  ++MldCount.retries;
  Rpt_Drop(unit.report);
  Log_Entry(kTxtRetry, kValRetry, err, tag.TagPnr.c_str(), tag.TagTag.c_str(),
            unit.what.c_str(), Sep(unit), unit.code.c_str(), unit.tries + 1);
  Pause(unit.tries);
  return 1;
}

int Unit_Result(const Unit& unit) { return unit.result; }
int Unit_Lost() { return RunLost || Lease_Lost() != 0 ? 1 : 0; }
std::int32_t Unit_Changed() { return ChangedUnits; }

void Unit_Day(const char* date, const char* pnr, std::int64_t runId, int begun) {
  Row = DayRow{};
  Row.date = date;
  Row.pnr = pnr;
  Row.run = DryRun != 0 ? 0 : runId;
  Row.begun = begun != 0;
  Row.failures = MldCount.failures;
  Row.givenUp = MldCount.givenUp;
}

int Unit_DayBegun() { return Row.begun ? 1 : 0; }
int Unit_DayChanged() { return Row.changed ? 1 : 0; }

void Unit_DayFinal(int line) {
  Row.final = true;
  Row.finalLine = line;
}

int Unit_DayRow(int line) {
  if (Row.run <= 0) return 0;
  const char* outcome = DayOutcome();
  int rc = WriteRow(outcome, line);
  if (rc == 0 && !InUnit) Ride(outcome, line);
  return rc;
}

int Unit_DayHeld() {
  if (Row.run <= 0) return 0;
  int rc = WriteRow("held", 0);
  if (rc == 0) Ride("held", 0);
  return rc;
}

int Unit_DayFailed() {
  return MldCount.failures != Row.failures || MldCount.givenUp != Row.givenUp || Row.refused
             ? 1
             : 0;
}

int Unit_DayRowWritten() { return Row.rowKept || (Row.rowInTxn && !Row.rowOpen) ? 1 : 0; }

int Unit_Commit() {
  if (Unit_Lost() != 0) return 0;
  if (DryRun != 0) return 1;
  int rc = Db_TxnWrote() != 0 ? Lease_Hold() : 0;
  if (rc == PZL_LEASE_LOST) {
    RunLost = true;
    (void)Db_Rollback();
    return 0;
  }
  const bool wrote = Db_TxnWrote() != 0;
  if (rc != 0 || Db_Commit() != 1) {
    Rollback();
    return 0;
  }
  if (wrote) ++MldCount.commits;
  Kept();
  return 1;
}

int Unit_Beat() {
  if (Lease_Due() == 0) return 0;
  int rc = Lease_Hold();
  if (rc == 0 && Unit_Commit() == 1) return 0;
  if (Unit_Lost() != 0) return PZL_LEASE_LOST;
  // A beat that did not go through is tried again with the next day's
  // units, which prove the lease as well.
  if (rc != 0) Rollback();
  return 0;
}
