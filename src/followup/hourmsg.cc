#include "followup/hourmsg.h"

#include <cstdint>

#include "db/bch.h"
#include "db/db.h"
#include "db/fcd.h"
#include "followup/check.h"
#include "followup/correct.h"
#include "followup/generate.h"
#include "followup/report.h"
#include "base/counts.h"
#include "base/log.h"

namespace {

constexpr char kTxtCurOpen[] = "Fehler(Cur_open): Buchungen(StdMld) lesen! ";
constexpr char kTxtCurRead[] = "Fehler(Cur_Read): Buchungen(StdMld) lesen ";
constexpr char kValDay[] = "RC:%d Pnr:%s Tag:%s\n";
constexpr char kTxtFcdRead[] = "Fehler(Read): Meldungsart(Fcd) zur FolgeMld lesen ";
constexpr char kValFcd[] = "RC:%d Pnr:%s Fcd:%s\n";

constexpr char kTrcFolge[] = "Folgemeldung zu Mld %s einlesen!\n";
constexpr char kTrcArt[] = "Meldungsart (Satz) zu Folgemld %s lesen!\n";

// Hour messages that carry a follow-up over to the next day.
constexpr std::int32_t kFktCarried1 = 23;
constexpr std::int32_t kFktCarried2 = 24;

// The newest booking of the window, when it is an hour message that names a
// follow-up: 1 with fcd read, else 0.
int FollowUpOf(const TagSatz& tag, const BchSatz& bch, FcdSatz& fcd) {
  if (bch.BchFkt != kFktCarried1 && bch.BchFkt != kFktCarried2) return 0;
  Trace(kTrcFolge, bch.BchFcd.c_str());
  // A NULL code reads as empty; no follow-up may come from a code not booked.
  if (bch.BchFcd.empty()) return 0;
  int flg = Fcd_ReadFlg(bch.BchFcd.c_str(), fcd.FcdNum);
  if (flg != 0) {
    if (flg != END_OF_DATA) ++MldCount.failures;  // the day stays failed, to be handled again
    return 0;
  }
  if (fcd.FcdNum.empty()) return 0;
  Trace(kTrcArt, fcd.FcdNum.c_str());
  int rc = Fcd_Read(fcd);
  if (rc != 0) {
    // Without its type the follow-up has no slot or priority to go by.
    Log_Fail(kTxtFcdRead, kValFcd, rc, tag.TagPnr.c_str(), fcd.FcdNum.c_str());
    Rpt_Weigh(fcd);
    Rpt_Stopped("type could not be read", nullptr);
    return 0;
  }
  return 1;
}

}  // namespace

void Mld_HourMsgRead(const TagSatz& last, HourMsg& h) {
  h = HourMsg{};
  Cor_Last(last);
  int rc = BchStdMld_Open(last.TagPnr.c_str(), last.TagTag.c_str());
  if (rc != 0) Log_Fail(kTxtCurOpen, kValDay, rc, last.TagPnr.c_str(), last.TagTag.c_str());
  // Only the newest booking counts: an older hour message has been
  // overtaken by whatever was booked after it.
  rc = BchStdMld_Read(h.newest);
  if (rc != 0 && rc != END_OF_DATA) {
    Log_Fail(kTxtCurRead, kValDay, rc, last.TagPnr.c_str(), last.TagTag.c_str());
  }
  h.rc = rc;
  (void)BchStdMld_Close();  // -1 after a failed open; nothing was held
}

int Mld_HourMsgDue(const HourMsg& h) {
  return h.rc == 0 && (h.newest.BchFkt == kFktCarried1 || h.newest.BchFkt == kFktCarried2) &&
                 !h.newest.BchFcd.empty()
             ? 1
             : 0;
}

int Mld_HourMsg(TagSatz& tag, const TagSatz& last) {
  HourMsg h;
  Mld_HourMsgRead(last, h);
  return Mld_HourMsg(tag, h);
}

int Mld_HourMsg(TagSatz& tag, const HourMsg& h) {
  int result = 0;
  BchSatz bch = h.newest;
  FcdSatz fcd{};
  // No commit here: the day-end commit of the batch run takes this along.
  if (h.rc == 0 && FollowUpOf(tag, bch, fcd) == 1) {
    Rpt_Weigh(fcd);
    if (Mld_Booked(tag, fcd) == 0 && Mld_CheckDay(tag, fcd) == 1 &&
        Mld_Generate(tag, bch, fcd) == 1) {
      result = 1;
    }
  }
  return result;
}
