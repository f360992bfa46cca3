#include "followup/unit.h"

#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>

#include "db/db.h"
#include "db/lau.h"
#include "base/result.h"
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
std::int32_t ChangedUnits = 0;

struct DayRow {
  const char* date = nullptr;
  const char* pnr = nullptr;
  std::int64_t run = 0;
  bool written = false;
};
DayRow Row;

void Pause(int tries) {
  static std::minstd_rand random(static_cast<unsigned>(time(nullptr)) ^
                                 static_cast<unsigned>(getpid()));
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
  int err = Db_TxnError();
  if (err != 0 && Db_Retryable(err) != 0) (void)Db_Rollback();
}

int Unit_Again(Unit& unit) {
  int err = Db_TxnError();
  if (err == 0) {
    const bool changed = Db_ChangeCount() != unit.changes;
    if (unit.commit == kUnitCommitChanges && !changed) return 0;
    if (changed && Row.run > 0) {
      (void)Lat_Insert(Row.date, Row.pnr, Row.run, "changed", 1);  // a refusal is its own failure
      err = Db_TxnError();
    }
    if (err == 0 && (DryRun != 0 || Db_Commit() == 1)) {
      ++MldCount.commits;
      if (changed) {
        ++ChangedUnits;
        if (Row.run > 0) Row.written = true;
      }
      return 0;
    }
    if (err == 0) err = Db_TxnError();
  }
  ++unit.tries;
  char why[160] = {};
  std::snprintf(why, sizeof why, "%s", Db_ErrText());  // the rollback may replace it
  (void)Db_Rollback();  // after a deadlock the server has done it; after a lock wait not
  *unit.tag = unit.start;
  // Counts stand for committed work: what the rolled-back try did is undone.
  MldCount.generated = unit.counts.generated;
  MldCount.cancelled = unit.counts.cancelled;
  const TagSatz& tag = unit.start;
  char day[16] = {};
  Dashed(tag.TagTag.c_str(), day, sizeof day);

  if (Db_Retryable(err) == 0 || DryRun != 0) {
    unit.result = DB_TXN_LOST;
    RunLost = true;
    Rpt_GiveUp(unit.report);
    Log_FailNotice(kTxtLost, kValUnit, err, tag.TagPnr.c_str(), tag.TagTag.c_str(),
                   unit.what.c_str(), Sep(unit), unit.code.c_str());
    std::fprintf(stderr,
                 "pirzol: the transaction was lost (%d: %s) in %s%s%s of person %s on %s; "
                 "nothing since the last commit was kept, and the run stops\n",
                 err, why, unit.what.c_str(), Sep(unit), unit.code.c_str(),
                 tag.TagPnr.c_str(), day);
    if (DryRun != 0) {
      std::fprintf(stderr, "pirzol: the dry run met other work at the same rows; run it again\n");
    }
    return 0;
  }
  if (unit.tries >= kUnitTries) {
    unit.result = UNIT_GIVEN_UP;
    ++MldCount.givenUp;
    Rpt_GiveUp(unit.report);
    Log_FailNotice(kTxtGivenUp, kValUnit, err, tag.TagPnr.c_str(), tag.TagTag.c_str(),
                   unit.what.c_str(), Sep(unit), unit.code.c_str());
    std::fprintf(stderr,
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
int Unit_Lost() { return RunLost ? 1 : 0; }
std::int32_t Unit_Changed() { return ChangedUnits; }

void Unit_Record(const char* date, const char* pnr, std::int64_t runId) {
  Row.date = date;
  Row.pnr = pnr;
  Row.run = DryRun != 0 ? 0 : runId;
  Row.written = false;
}

int Unit_Recorded() { return Row.written ? 1 : 0; }
