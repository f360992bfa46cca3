#include "followup/search.h"

#include <cstdint>

#include "db/bch.h"
#include "db/fcd.h"
#include "base/counts.h"
#include "base/log.h"
#include "base/result.h"

namespace {

constexpr char kTrcTagMld[] = "\nTag mit Tagesmeldungen gefunden !\n";
constexpr char kTrcStdMld[] = "\nTag mit Stundenmeldungen gefunden !\n";
// A day whose message type carries this value in FcdFcd may be passed over once.
constexpr std::int32_t kFcdPassOnce = 24;

// The search writes nothing to the log, but a day whose search failed
// (a killed query, a statement time limit) must not pass as one with
// nothing to carry over: the failure is counted, and the day recorded
// failed. The search stops there: going on to an older day would carry
// over the messages of a day that is not the last. 1 when rc is a failure.
bool Failed(int rc) {
  if (rc == 0 || rc == END_OF_DATA) return false;
  ++MldCount.failures;
  return true;
}

}  // namespace

int Mld_FindLastDay(const char* pnr, const char* date, TagSatz& last) {
  int found = 0;
  bool passed = false;
  (void)TagAlt_Open(pnr, date);  // a failed open makes the first read fail
  int rc = TagAlt_Read(last);
  while (rc == 0) {
    std::int32_t count = 0;
    int crc = TagAlt_CountTagMld(count) == 0 ? 0 : Bch_CountTagMld(last, count);
    if (Failed(crc)) break;
    if (count != 0) {
      FcdSatz fcd{};
      fcd.FcdNum.assign(last.TagTgb.c_str());
      // An unknown type keeps an empty follow-up code and FcdFcd 0.
      if (Failed(Fcd_Read(fcd))) break;
      if (!fcd.FcdFlg.empty()) {
        Trace(kTrcTagMld);
        Tag_Print(last);
        found = 1;
        break;
      }
      if (passed || fcd.FcdFcd != kFcdPassOnce) break;
      passed = true;
    }
    count = 0;
    crc = Bch_CountStdMld(last, count);
    if (Failed(crc)) break;
    if (count != 0) {
      Trace(kTrcStdMld);
      Tag_Print(last);
      found = 1;
      break;
    }
    rc = TagAlt_Read(last);
  }
  if (found == 0 && rc != 0) (void)Failed(rc);
  (void)TagAlt_Close();
  return found;
}
