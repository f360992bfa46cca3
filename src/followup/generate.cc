#include "followup/generate.h"

#include <cstdint>

#include "db/azv.h"
#include "followup/correct.h"
#include "followup/report.h"
#include "base/counts.h"
#include "base/log.h"

namespace {

constexpr char kTrcBeginn[] = "Beginn Meldung generieren!\n";
constexpr char kTrcEnde[] = "Ende Meldung generieren!\n";

constexpr char kTxtSollzeit[] = "Info: Folgemeldungsart mit Sollzeitpr\xFC" "fung! ";
constexpr char kValSollzeit[] = "Pnr:%s Tag:%s PirZol:%s\n";
constexpr char kTxtInsertFailed[] = "Fehler(Bch_Insert): Buchung einpflegen! ";
constexpr char kTxtInserted[] = "Info: Buchung eingepflegt! ";
constexpr char kValInsert[] = "RC:%d Pnr:%s Tag:%s Fkt:%d Fcd:%s\n";
constexpr char kTxtAzvFailed[] = "Fehler(Azv_Read): Arbeitszeitvorgaben lesen ";
constexpr char kTxtTagFailed[] = "Fehler(Tag_Update): TagesSatz aktualisieren! ";
constexpr char kTxtTagUpdated[] = "Info: TagesSatz aktualisiert! ";
constexpr char kValTag[] = "RC:%d Pnr:%s Tag:%s\n";

// The booking time of every follow-up: it stands for the whole day.
constexpr char kFollowUpTime[] = "000000";

// Sums in 64 bits and narrows afterwards, so absurd rule values wrap the way
// the old 32-bit arithmetic did instead of overflowing.
std::int32_t Sum(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::int64_t>(a) + b);
}

// The value the follow-up credits on the day, chosen by its FcdZwt.
std::int32_t Credit(const FcdSatz& fcd, const AzvSatz& azv) {
  switch (fcd.FcdZwt) {
    case 1:
      // A half-day type credits half the day's target; only this selector halves.
      return (fcd.FcdTyp == 2 || fcd.FcdTyp == 3) ? azv.AzvSol / 2 : azv.AzvSol;
    case 2:
      return azv.AzvSo2;
    case 3:
      return azv.AzvHso;
    case 4:
      return azv.AzvHs2;
    case 14:
      return fcd.FcdStd;
    case 15:
      return Sum(azv.AzvSol, azv.AzvVhs);
    case 16:
      return Sum(azv.AzvHso, azv.AzvHtv);
    case 17:
      return Sum(azv.AzvSo2, azv.AzvVhs);
    case 18:
      return Sum(azv.AzvHs2, azv.AzvHtv);
    default:
      return 0;
  }
}

// Writes code and value into the slot that FcdTyp names; other types name none.
void StoreSlot(TagSatz& tag, const FcdSatz& fcd, std::int32_t value) {
  switch (fcd.FcdTyp) {
    case 1:
      tag.TagTgb.assign(fcd.FcdNum.c_str());
      tag.TagTgs = value;
      break;
    case 2:
      tag.TagHtv.assign(fcd.FcdNum.c_str());
      tag.TagHvs = value;
      break;
    case 3:
      tag.TagHtn.assign(fcd.FcdNum.c_str());
      tag.TagHns = value;
      break;
    default:
      break;
  }
}

}  // namespace

int Mld_Generate(TagSatz& tag, BchSatz& bch, const FcdSatz& fcd) {
  Trace(kTrcBeginn);
  int result = 0;
  if (fcd.FcdSol == 1 && tag.TgbSol <= 0) {
    // Written whatever the detail switch says: the operator must learn of a
    // follow-up that was dropped for want of a target time.
    Log_Notice(kTxtSollzeit, kValSollzeit, tag.TagPnr.c_str(), tag.TagTag.c_str(),
               fcd.FcdNum.c_str());
    Rpt_Stopped("target time", nullptr);
  } else {
    // bch is the source booking until it becomes the follow-up's buffer.
    const BchSatz source = bch;
    const TagSatz before = tag;
    bch.BchPnr.assign(tag.TagPnr.c_str());
    bch.BchVon.assign(tag.TagTag.c_str());
    bch.BchUhr.assign(kFollowUpTime);
    bch.BchFcd.assign(fcd.FcdNum.c_str());
    bch.BchFkt = fcd.FcdTyp;
    int rc = Bch_Insert(bch);
    // A failed insert (most often the follow-up is already booked) still lets
    // the day record take the code and value.
    if (rc != 0) {
      Log_Fail(kTxtInsertFailed, kValInsert, rc, bch.BchPnr.c_str(), bch.BchVon.c_str(),
               static_cast<int>(bch.BchFkt), bch.BchFcd.c_str());
    } else {
      Log_Entry(kTxtInserted, kValInsert, rc, bch.BchPnr.c_str(), bch.BchVon.c_str(),
                static_cast<int>(bch.BchFkt), bch.BchFcd.c_str());
    }

    // Zero-filled, so a person without a rule on the day is credited 0 by
    // the rule-based selectors rather than by whatever the memory held.
    AzvSatz azv{};
    rc = Azv_Read(tag.TagPnr.c_str(), tag.TagTag.c_str(), azv);
    if (rc != 0) Log_Fail(kTxtAzvFailed, kValTag, rc, tag.TagPnr.c_str(), tag.TagTag.c_str());

    const std::int32_t value = Credit(fcd, azv);
    StoreSlot(tag, fcd, value);
    Rpt_Credited(fcd.FcdTyp, value);

    // All three slots go back from memory, so follow-ups of one day accumulate.
    const int inserted = rc == 0 ? 1 : 0;
    rc = Tag_Update(tag);
    if (rc == DB_NO_ROW_CHANGED) {
      // The record already holds these slots (a day handled again): logged
      // as it always was, but the day's work is there, so no failure.
      Log_Entry(kTxtTagFailed, kValTag, rc, tag.TagPnr.c_str(), tag.TagTag.c_str());
    } else if (rc != 0) {
      Log_Fail(kTxtTagFailed, kValTag, rc, tag.TagPnr.c_str(), tag.TagTag.c_str());
    } else {
      Log_Entry(kTxtTagUpdated, kValTag, rc, tag.TagPnr.c_str(), tag.TagTag.c_str());
    }
    Cor_Booked(source, bch, inserted, before, tag);
    result = 1;
    ++MldCount.generated;
  }
  Trace(kTrcEnde);
  return result;
}
