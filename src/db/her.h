// The lineage of follow-ups, Qel953Her: for every follow-up the batch books,
// what it was carried from and every row it changed, as before-images
// written in the same transaction. From it the follow-ups that depend on a
// corrected message are found, and taken back by those images where the
// rows still hold what the batch wrote.
#ifndef PIRZOL_DB_HER_H_
#define PIRZOL_DB_HER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/fixtext.h"
#include "db/bch.h"
#include "db/tag.h"

// The three message slots of a day record.
struct HerSlots {
  FixText<4> tgb;
  std::int32_t tgs;
  FixText<4> htv;
  std::int32_t hvs;
  FixText<4> htn;
  std::int32_t hns;
};
bool operator==(const HerSlots& a, const HerSlots& b);
HerSlots Her_SlotsOf(const TagSatz& tag);

// One follow-up's lineage.
struct HerSatz {
  std::int64_t id;
  std::int64_t run;
  FixText<9> pnr;
  FixText<9> day;      // the follow-up's day, YYYYMMDD; booked at 000000
  std::int32_t fkt;    // its function and code
  FixText<6> fcd;
  int inserted;        // 1: the batch inserted the booking (0: the insert was refused)
  FixText<9> last;     // the last message day it was carried from
  BchSatz source;      // the source booking as read: date, time, function, code
  int cancelled;       // 1: it cancelled a booking of its day, as that was
  BchSatz cancel;      //   before: time, function, entry time and author
  int deleted;         // 1: it deleted cancelled rows first, kept whole in the row
  HerSlots before;     // the day record's slots before and after
  HerSlots after;
};

// A follow-up found stale, and why: "source gone", "source changed",
// "source cancelled", "newer message" or "chain".
struct HerStale {
  std::int64_t id;
  std::string pnr;
  std::string day;     // YYYYMMDD
  std::string code;
  std::string reason;
};

// 1 when the lineage table exists (remembered for Her_On), 0 when not, or
// the server's error number.
[[nodiscard]] int Her_Present();
// 1 once Her_Present found the table in this process.
[[nodiscard]] int Her_On();

// Before a cancellation deletes the cancelled rows of bch's person, date and
// time: keeps them whole in the session for the next Her_Insert. 0 or the error.
[[nodiscard]] int Her_KeepDeleted(const BchSatz& bch);
// Writes her into the open transaction as bookkeeping. 0 or the error.
[[nodiscard]] int Her_Insert(const HerSatz& her);

// The stale follow-ups of the last 31 nights, by person and day, each once
// with its first reason. A few statements for all persons. 0 or the error.
[[nodiscard]] int Her_Stale(std::vector<HerStale>& stale);
// pnr's lineage from day on, newest first. 0 or the error.
[[nodiscard]] int Her_Person(const char* pnr, const char* day, std::vector<HerSatz>& rows);
// The day record's slots now, its row locked. 0, END_OF_DATA or the error.
[[nodiscard]] int Her_DaySlots(const char* pnr, const char* day, HerSlots& slots);
// holds = 1 when her's follow-up booking still stands as the batch wrote it.
[[nodiscard]] int Her_Holds(const HerSatz& her, int& holds);
// Takes back her's bookings: deletes the follow-up, gives the cancelled
// booking its function, entry time and author back when it still holds the
// cancellation (restored = 0 when a person changed it since), and inserts
// the deleted rows again. 0 or the error.
[[nodiscard]] int Her_TakeBack(const HerSatz& her, int& restored);
// Writes slots to pnr's day record of day. 0 or the error.
[[nodiscard]] int Her_PutSlots(const char* pnr, const char* day, const HerSlots& slots);
// Removes pnr's lineage from day on, taken back or left to persons. 0 or the error.
[[nodiscard]] int Her_Forget(const char* pnr, const char* day);
// Removes the lineage of follow-ups older than twice the window: nothing
// takes them back any more. Bookkeeping of the open transaction; 0 or the error.
[[nodiscard]] int Her_Purge();
// Follow-ups of code the lineage records on tag's day. 0 or the error.
[[nodiscard]] int Her_CountBooked(const TagSatz& tag, const char* code, std::int32_t& count);

#endif  // PIRZOL_DB_HER_H_
