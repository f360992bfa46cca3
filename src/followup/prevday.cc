#include "followup/prevday.h"

#include "db/bch.h"
#include "db/db.h"
#include "db/fcd.h"
#include "followup/check.h"
#include "followup/correct.h"
#include "followup/generate.h"
#include "followup/report.h"
#include "followup/unit.h"
#include "base/counts.h"
#include "base/log.h"

namespace {

constexpr char kTxtCurOpen[] = "Fehler(Cur_open): Buchungen(TagesMld Vortag) lesen! ";
constexpr char kTxtCurRead[] = "Fehler(Cur_Read): Buchungen(TagesMld Vortag) lesen ";
constexpr char kValDay[] = "RC:%d Pnr:%s Tag:%s\n";
constexpr char kTxtFcdRead[] = "Fehler(Read): Meldungsart(Fcd) zur FolgeMld lesen ";
constexpr char kValFcd[] = "RC:%d Pnr:%s Fcd:%s\n";

}  // namespace

int Mld_PrevDay(TagSatz& tag, const TagSatz& last, int restDue, int owed) {
  int result = 0;
  Cor_Last(last);
  int rc = BchVortag_Open(last.TagPnr.c_str(), last.TagTag.c_str());
  if (rc != 0) Log_Fail(kTxtCurOpen, kValDay, rc, last.TagPnr.c_str(), last.TagTag.c_str());

  // The stored result of BchVortag outlives the check and generation
  // statements run for each row, so the outer read is not disturbed.
  BchSatz bch{};
  for (;;) {
    // Cleared for every row: Mld_Generate leaves its follow-up in bch, and a
    // NULL code must not inherit that or any earlier code.
    bch = BchSatz{};
    rc = BchVortag_Read(bch);
    if (rc != 0) break;
    if (bch.BchFcd.empty()) continue;

    FcdSatz fcd{};
    int flg = Fcd_ReadFlg(bch.BchFcd.c_str(), fcd.FcdNum);
    if (flg != 0) {
      // An unknown or inactive code carries nothing over. A type that could
      // not be read leaves the day failed, to be completed by a later run;
      // the bookings after it wait too, so that they are weighed in order.
      if (flg == END_OF_DATA) continue;
      ++MldCount.failures;
      rc = END_OF_DATA;
      break;
    }
    if (fcd.FcdNum.empty()) continue;
    int frc = Fcd_Read(fcd);
    if (frc != 0) {
      // A follow-up of unknown type has neither slot nor priority; weighing
      // or booking it could only cancel or insert the wrong thing.
      Log_Fail(kTxtFcdRead, kValFcd, frc, tag.TagPnr.c_str(), fcd.FcdNum.c_str());
      Rpt_Weigh(fcd);
      Rpt_Stopped("type could not be read", nullptr);
      continue;
    }

    // Each handled booking is its own unit of work, committed whatever the
    // check decided: a run that breaks off keeps what was carried over so far.
    int generated = 0;
    Unit unit;
    Unit_Begin(unit, tag, "TagesMld", bch.BchFcd.c_str(), kUnitAlwaysCommit);
    do {
      Rpt_Weigh(fcd);
      generated = Mld_Booked(tag, fcd) == 0 && Mld_CheckDay(tag, fcd) == 1 &&
                          Mld_Generate(tag, bch, fcd) == 1
                      ? 1
                      : 0;
      // Nothing after this unit can change the day: a cut after its COMMIT
      // leaves nothing undone, so its row is final rather than open.
      if (restDue == 0 && BchVortag_Left() == 0) {
        Unit_DayFinal(result != 0 || generated != 0 || owed != 0 ? 1 : 0);
      }
    } while (Unit_Again(unit) != 0);
    if (Unit_Result(unit) == 0 && generated != 0) result = 1;
    if (Unit_Lost() != 0) {
      rc = END_OF_DATA;  // the bookings not yet read wait for the next run, as the whole day does
      break;
    }
  }
  if (rc != END_OF_DATA) {
    Log_Fail(kTxtCurRead, kValDay, rc, last.TagPnr.c_str(), last.TagTag.c_str());
  }
  (void)BchVortag_Close();  // -1 after a failed open; nothing was held
  return result;
}
