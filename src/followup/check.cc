#include "followup/check.h"

#include <cstdint>
#include <cstdio>

#include "db/bch.h"
#include "db/db.h"
#include "db/her.h"
#include "followup/correct.h"
#include "followup/report.h"
#include "followup/unit.h"
#include "base/counts.h"
#include "base/log.h"

namespace {

constexpr char kTxtCurOpen[] = "Fehler(Cur_open): Buchungen(TagesMld AbrTag) lesen! ";
constexpr char kTxtCurRead[] = "Fehler(Cur_Read): Buchungen(TagesMld AbrTag) lesen ";
constexpr char kValDay[] = "RC:%d Pnr:%s Tag:%s\n";
constexpr char kTxtFcdRead[] = "Fehler(Read): Meldungsartsatz(Fcd) zur BchMld lesen ";
constexpr char kValFcd[] = "RC:%d Pnr:%s Fcd:%s\n";
constexpr char kTxtHigher[] = "Info: (Fcd) in BchSatz hat h\xF6here Priorit\xE4t ";
constexpr char kValHigher[] = "Pnr:%s Tag:%s Fcd:%s\n";
constexpr char kTxtStornoDeleted[] = "Info: BchSatz(Storno) gel\xF6" "scht ";
constexpr char kTxtStornoDelFailed[] = "Fehler(Del): Bchsatz(Storno) loeschen ";
constexpr char kValStornoDel[] = "RC:%d Pnr:%s Tag:%s Fcd:%s Fkt:45 \n";
// The attempt number (1 or 2) is part of the text, not of the values.
constexpr char kTxtUpdFailed[] = "Fehler(Upd%d): Akt. BchSatz(Storno) updaten ";
constexpr char kValUpd[] = "RC:%d Pnr:%s Tag:%s Fcd:%s Fkt:%d\n";

enum class Rank { kBooking, kFollowUp, kUndecided };

// Smaller FcdPri ranks higher; the follow-up's FcdGpu settles a tie.
Rank Weigh(std::int32_t booked, const FcdSatz& fcd) {
  if (booked < fcd.FcdPri) return Rank::kBooking;
  if (booked > fcd.FcdPri) return Rank::kFollowUp;
  if (fcd.FcdGpu == 0) return Rank::kBooking;
  if (fcd.FcdGpu == 1) return Rank::kFollowUp;
  return Rank::kUndecided;
}

void LogUpdateFailed(int attempt, int rc, const TagSatz& tag, const BchSatz& bch) {
  char text[sizeof kTxtUpdFailed + 8] = {};
  std::snprintf(text, sizeof text, kTxtUpdFailed, attempt);
  Log_Fail(text, kValUpd, rc, tag.TagPnr.c_str(), tag.TagTag.c_str(), bch.BchFcd.c_str(),
            static_cast<int>(bch.BchFkt));
}

// Gives the booking function 45. A cancelled booking of the same person,
// date and time from an earlier run blocks that (duplicate key), so it is
// removed first and the change tried once more.
void Cancel(const TagSatz& tag, const BchSatz& bch) {
  int attempt = 1;
  int rc = Bch_Update(bch, kFktCancelled);
  if (rc == DB_DUPLICATE) {
    // What is deleted is kept whole for the lineage, so that taking the
    // follow-up back brings it back.
    int del = Cor_Deleting(bch);
    if (del == 0) del = Bch_Delete(bch, kFktCancelled);
    if (del == 0) {
      Log_Entry(kTxtStornoDeleted, kValStornoDel, del, tag.TagPnr.c_str(), tag.TagTag.c_str(),
                bch.BchFcd.c_str());
    } else {
      Log_Fail(kTxtStornoDelFailed, kValStornoDel, del, tag.TagPnr.c_str(), tag.TagTag.c_str(),
               bch.BchFcd.c_str());
    }
    attempt = 2;
    rc = Bch_Update(bch, kFktCancelled);
  }
  if (rc == 0) {
    ++MldCount.cancelled;
    Cor_Cancelled(bch);
    Rpt_Cancelled(bch);
  } else {
    LogUpdateFailed(attempt, rc, tag, bch);
  }
}

}  // namespace

int Mld_CheckDay(const TagSatz& tag, const FcdSatz& fcd) {
  Cor_Weigh();
  int result = 1;
  // A day the search saw without day messages, in this same transaction,
  // has none to weigh: the statement would hand back no row.
  std::int32_t booked = -1;
  if (TagAlt_DayMessages(tag.TagPnr.c_str(), tag.TagTag.c_str(), booked) == 0 && booked == 0) {
    return result;
  }
  int rc = BchAbrTag_Open(tag.TagPnr.c_str(), tag.TagTag.c_str());
  if (rc != 0) Log_Fail(kTxtCurOpen, kValDay, rc, tag.TagPnr.c_str(), tag.TagTag.c_str());

  BchSatz bch{};
  for (;;) {
    // Cleared for every row: a NULL code must read as none, not as the
    // code of the row before.
    bch = BchSatz{};
    rc = BchAbrTag_Read(bch);
    if (rc != 0) {
      if (rc != END_OF_DATA) {
        Log_Fail(kTxtCurRead, kValDay, rc, tag.TagPnr.c_str(), tag.TagTag.c_str());
      }
      break;
    }
    if (bch.BchFcd.empty()) continue;

    FcdSatz booked{};
    booked.FcdNum.assign(bch.BchFcd.c_str());
    int frc = Fcd_Read(booked);
    if (frc != 0) {
      Log_Fail(kTxtFcdRead, kValFcd, frc, tag.TagPnr.c_str(), bch.BchFcd.c_str());
      continue;
    }

    Rank rank = Weigh(booked.FcdPri, fcd);
    if (rank == Rank::kUndecided) continue;
    if (rank == Rank::kBooking) {
      Log_Entry(kTxtHigher, kValHigher, tag.TagPnr.c_str(), tag.TagTag.c_str(),
                bch.BchFcd.c_str());
      Rpt_Stopped(booked.FcdPri < fcd.FcdPri ? "stronger booking" : "equal booking",
                  bch.BchFcd.c_str());
      result = 0;
      break;
    }
    // The follow-up will be refused on a day without a target time; the
    // booking it would replace must then stay.
    if (!(fcd.FcdSol == 1 && tag.TgbSol <= 0)) Cancel(tag, bch);
    // Only the first booking that decides is acted on; the rest stay unread.
    break;
  }
  (void)BchAbrTag_Close();  // -1 after a failed open; nothing was held
  return result;
}

int Mld_Booked(const TagSatz& tag, const FcdSatz& fcd) {
  if (Unit_DayBegun() == 0) return 0;
  std::int32_t count = 0;
  // With the lineage only what the batch itself booked counts: a person's
  // booking of the same code stays a message to weigh, and a follow-up a
  // correction took back is booked again.
  int rc = Her_On() != 0 ? Her_CountBooked(tag, fcd.FcdNum.c_str(), count)
                         : Bch_CountFollowUp(tag, fcd.FcdNum.c_str(), fcd.FcdTyp, count);
  if (rc != 0) {
    ++MldCount.failures;  // the day stays failed, to be handled again
    Rpt_Stopped("could not be checked", nullptr);
    return 1;
  }
  if (count == 0) return 0;
  Rpt_Stopped("booked by an earlier run", nullptr);
  return 1;
}
