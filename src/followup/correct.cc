#include "followup/correct.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "db/db.h"
#include "db/her.h"
#include "db/lau.h"
#include "followup/report.h"
#include "followup/unit.h"
#include "base/counts.h"
#include "base/journal.h"
#include "base/log.h"
#include "base/runflags.h"

namespace {

constexpr char kTxtTakenBack[] = "Info: Folgemeldung zur\xFC" "ckgenommen! ";
constexpr char kValTakenBack[] = "Pnr:%s Tag:%s Fkt:%d Fcd:%s\n";
constexpr char kTxtRefused[] = "Info: Tag von Hand ge\xE4ndert, bleibt stehen! ";
constexpr char kValRefused[] = "Pnr:%s Tag:%s\n";

// Persons and days the stderr line names before it says how many more.
constexpr std::size_t kNamed = 5;

// What the follow-ups now being weighed are carried from, and what their
// weighing cancelled: written into the lineage with the follow-up.
FixText<9> Last;
bool Cancelled = false;
BchSatz CancelImage{};
bool Deleted = false;
const NightPlan* Plan = nullptr;

// One line of what a person's correction did, said once it is committed.
struct Outcome {
  std::string what;  // "taken back" or "refused"
  std::string day;
  std::string code;
  std::string reason;
  std::int32_t fkt;
};

void Dashed(const std::string& day, char* out, std::size_t size) {
  std::snprintf(out, size, "%.4s-%.2s-%.2s", day.c_str(), day.size() >= 6 ? day.c_str() + 4 : "",
                day.size() >= 8 ? day.c_str() + 6 : "");
}

// Takes back pnr's follow-ups from day first on, newest first, into the open
// transaction, and withdraws those days from the record. A day whose record
// or follow-up a person changed since the batch wrote it is left whole.
// 0 or the error.
int TakeBack(const char* pnr, const char* first, std::vector<Outcome>& done) {
  std::vector<HerSatz> rows;
  int rc = Her_Person(pnr, first, rows);
  if (rc != 0) return rc;
  std::vector<std::string> keep;
  for (std::size_t i = 0; i < rows.size();) {
    std::size_t end = i;
    while (end < rows.size() && std::strcmp(rows[end].day.c_str(), rows[i].day.c_str()) == 0) {
      ++end;
    }
    const char* day = rows[i].day.c_str();
    HerSlots now{};
    rc = Her_DaySlots(pnr, day, now);
    if (rc != 0 && rc != END_OF_DATA) return rc;
    // The newest follow-up of the day wrote the slots last.
    const char* why = rc == END_OF_DATA || !(now == rows[i].after)
                          ? "day record changed by a person"
                          : nullptr;
    for (std::size_t k = i; why == nullptr && k < end; ++k) {
      int holds = 1;
      if (rows[k].inserted != 0 && (rc = Her_Holds(rows[k], holds)) != 0) return rc;
      if (holds == 0) why = "follow-up changed by a person";
    }
    if (why != nullptr) {
      keep.emplace_back(day);
      done.push_back(Outcome{"refused", day, "", why, 0});
      i = end;
      continue;
    }
    for (std::size_t k = i; k < end; ++k) {
      int restored = 1;
      if ((rc = Her_TakeBack(rows[k], restored)) != 0) return rc;
      done.push_back(Outcome{"taken back", day, rows[k].fcd.c_str(),
                             restored != 0 ? "" : "its cancellation was changed by a person",
                             rows[k].fkt});
    }
    if ((rc = Her_PutSlots(pnr, day, rows[end - 1].before)) != 0) return rc;
    i = end;
  }
  if ((rc = Her_Forget(pnr, first)) != 0) return rc;
  return Lat_Withdraw(pnr, first, keep);
}

// One person's correction as one unit of work: all of it or nothing. 0, or
// -1 when the run must stop.
int CorrectPerson(const char* pnr, const char* first) {
  TagSatz tag{};
  tag.TagPnr.assign(pnr);
  tag.TagTag.assign(first);
  std::vector<Outcome> done;
  int failed = 0;
  Unit unit;
  // Committed even when every day was refused: the lineage of those days is
  // settled, and must not wait for a later COMMIT a rollback could take away.
  Unit_Begin(unit, tag, "Korrekt", "", kUnitAlwaysCommit);
  do {
    done.clear();
    failed = TakeBack(pnr, first, done);
    if (failed != 0 && Db_TxnError() == 0) {
      // Not to be redone, and never to be kept half: the person's rows stay
      // as they were, and the stale follow-ups stay pending.
      Log_Stderr(kPrioError, "pirzol: the correction of person %s failed (%d): %s; nothing of it "
                   "was kept\n", pnr, failed, Db_ErrText());
      ++MldCount.failures;
      (void)Db_Rollback();
    }
  } while (Unit_Again(unit) != 0);
  if (Unit_Lost() != 0) return -1;
  if (Unit_Result(unit) != 0 || failed != 0) return 1;
  for (const Outcome& o : done) {
    Rpt_Correction(o.what.c_str(), pnr, o.day.c_str(), o.code.c_str(), o.reason.c_str());
    if (o.what == "refused") {
      char day[16] = {};
      Dashed(o.day, day, sizeof day);
      ++MldCount.refused;
      Log_Entry(kTxtRefused, kValRefused, pnr, o.day.c_str());
      Log_Stderr(kPrioWarning, "pirzol: refused to take back person %s's day %s: %s since the "
                   "batch wrote it; that day stands as it is and the days after it are derived "
                   "from it\n", pnr, day, o.reason.c_str());
    } else {
      ++MldCount.takenBack;
      Log_Entry(kTxtTakenBack, kValTakenBack, pnr, o.day.c_str(), static_cast<int>(o.fkt),
                o.code.c_str());
    }
  }
  return 0;
}

}  // namespace

void Cor_Last(const TagSatz& last) { Last.assign(last.TagTag.c_str()); }

void Cor_Weigh() {
  Cancelled = false;
  Deleted = false;
}

int Cor_Deleting(const BchSatz& bch) {
  if (Her_On() == 0) return 0;
  int rc = Her_KeepDeleted(bch);
  if (rc == 0) Deleted = true;
  return rc;
}

void Cor_Cancelled(const BchSatz& booking) {
  Cancelled = true;
  CancelImage = booking;
}

void Cor_Booked(const BchSatz& source, const BchSatz& booked, int inserted,
                const TagSatz& before, const TagSatz& after) {
  if (Her_On() == 0) return;
  HerSatz h{};
  h.run = Plan != nullptr ? Plan->runId : 0;
  h.pnr.assign(booked.BchPnr.c_str());
  h.day.assign(booked.BchVon.c_str());
  h.fkt = booked.BchFkt;
  h.fcd.assign(booked.BchFcd.c_str());
  h.inserted = inserted;
  h.last.assign(Last.c_str());
  h.source = source;
  h.cancelled = Cancelled ? 1 : 0;
  h.cancel = CancelImage;
  h.deleted = Deleted ? 1 : 0;
  h.before = Her_SlotsOf(before);
  h.after = Her_SlotsOf(after);
  int rc = Her_Insert(h);
  Cor_Weigh();
  // A rollback is the unit's to redo; any other refusal leaves a follow-up
  // that a correction could not follow, and the day failed.
  if (rc != 0 && Db_TxnError() == 0) {
    ++MldCount.failures;
    Log_Stderr(kPrioError, "pirzol: the lineage of the follow-up %s of person %s on %s could not "
                 "be written (%d): %s\n", h.fcd.c_str(), h.pnr.c_str(), h.day.c_str(), rc,
                 Db_ErrText());
  }
}

int Mld_Correct(const RunOptions& opts, const NightPlan& plan) {
  Plan = &plan;
  int rc = Her_Present();
  if (rc != 1) {
    if (rc == 0) {
      Log_Stderr(kPrioNotice, "pirzol: the database has no lineage table (Qel953Her, in runs.sql); "
                   "corrections of messages cannot be followed\n");
    } else {
      Log_Stderr(kPrioError, "pirzol: the lineage table could not be looked for (%d): %s\n", rc,
                   Db_ErrText());
    }
    return 0;
  }
  // Kept with the run's first COMMIT; a refusal only leaves old rows longer.
  if (Her_Purge() != 0 && Db_TxnError() == 0) {
    Log_Stderr(kPrioWarning, "pirzol: old lineage could not be removed (%d): %s\n", Db_ErrNo(),
               Db_ErrText());
  }
  std::vector<HerStale> stale;
  rc = Her_Stale(stale);
  if (rc != 0) {
    ++MldCount.failures;
    Log_Stderr(kPrioError, "pirzol: the follow-ups depending on corrected messages could not be "
                 "found (%d): %s\n", rc, Db_ErrText());
    return Unit_Lost() != 0 ? -1 : 0;
  }
  if (stale.empty()) return 0;
  std::string named;
  // Each person once, with the first day from which its follow-ups go back.
  std::vector<std::pair<std::string, std::string>> persons;
  for (std::size_t i = 0; i < stale.size(); ++i) {
    const HerStale& s = stale[i];
    Rpt_Correction("stale", s.pnr.c_str(), s.day.c_str(), s.code.c_str(), s.reason.c_str());
    if (persons.empty() || persons.back().first != s.pnr) persons.emplace_back(s.pnr, s.day);
    if (i < kNamed) {
      char day[16] = {};
      Dashed(s.day, day, sizeof day);
      named += (i == 0 ? "" : ", ") + s.pnr + " " + day + " " + s.code + " (" + s.reason + ")";
    }
  }
  if (stale.size() > kNamed) named += ", ...";
  Log_Stderr(kPrioWarning, "pirzol: %zu follow-up(s) of %zu person(s) depend on messages corrected "
               "since they were booked: %s; %s\n", stale.size(), persons.size(), named.c_str(),
               opts.correct != 0 && opts.day.empty() && opts.from.empty()
                   ? "they are taken back and derived again"
                                 : "--correct takes them back; no past day was changed");
  MldCount.pending = static_cast<std::int32_t>(stale.size());
  if (opts.correct == 0) return 0;
  if (!opts.day.empty() || !opts.from.empty()) {
    Log_Stderr(kPrioWarning, "pirzol: --correct works in plain runs only, which handle the days it "
                 "takes back again; nothing was taken back\n");
    return 0;
  }
  // Corrections come before any day of the run: nothing is open yet.
  Unit_Day(nullptr, nullptr, 0, 0);
  int corrected = 0;
  for (const auto& p : persons) {
    rc = CorrectPerson(p.first.c_str(), p.second.c_str());
    if (rc < 0) return -1;
    if (rc != 0) continue;
    ++corrected;
    for (const HerStale& s : stale) {
      if (s.pnr == p.first) --MldCount.pending;
    }
  }
  return corrected;
}
