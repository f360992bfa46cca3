// Booking records of Qel321Bch: the three booking reads on their own cursors,
// the cancellation update, the delete and the insert of a follow-up, and the
// two booking counts by which the search recognises a day with messages.
#ifndef PIRZOL_DB_BCH_H_
#define PIRZOL_DB_BCH_H_

#include <cstdint>
#include <type_traits>

#include "base/fixtext.h"
#include "db/tag.h"

// Booking functions the batch names.
constexpr std::int32_t kFktCancelled = 45;

struct BchSatz {
  FixText<9> BchPnr;    // personnel number
  FixText<9> BchVon;    // date, YYYYMMDD
  FixText<10> BchUhr;   // time of day, HHMMSS
  std::int32_t BchFkt;  // booking function: 1-3 day messages, 45 cancelled
  FixText<9> BchBis;    // end date, YYYYMMDD
  FixText<9> BchVws;    // a time of day, HHMMSS
  FixText<6> BchFcd;    // message code
  std::int32_t BchZwt;  // the rest is carried, never used
  FixText<16> BchAbt;
  FixText<31> BchKst;
  FixText<7> BchKtr;
  FixText<5> BchKrt;
  FixText<6> BchAzt;
  FixText<15> BchVra;
  std::int32_t BchTxt;
  std::int32_t BchSta;
  // Read by BchAbrTag only, for the lineage's image of a cancelled booking;
  // empty for NULL.
  FixText<21> BchErf;   // author
  FixText<20> BchDat;   // entry time, YYYY-MM-DD HH:MM:SS
};
static_assert(std::is_trivially_copyable_v<BchSatz>);

// Day-message bookings (functions 1, 2, 3) of pnr on date, unordered.
[[nodiscard]] int BchVortag_Open(const char* pnr, const char* date);
[[nodiscard]] int BchVortag_Read(BchSatz& bch);
int BchVortag_Close();
// Rows of the open BchVortag cursor not yet read; 0 without one.
[[nodiscard]] int BchVortag_Left();
// The same selection on a cursor of its own, for the accounted day's check.
[[nodiscard]] int BchAbrTag_Open(const char* pnr, const char* date);
[[nodiscard]] int BchAbrTag_Read(BchSatz& bch);
int BchAbrTag_Close();
// Bookings inside the period of pnr's day record of date, bounds included,
// without functions 45 and 29, newest first.
[[nodiscard]] int BchStdMld_Open(const char* pnr, const char* date);
[[nodiscard]] int BchStdMld_Read(BchSatz& bch);
int BchStdMld_Close();

// Gives the booking of bch's person, date, time and function the function
// fkt: 0 when a row changed, DB_NO_ROW_CHANGED when none did, else the
// server's error (1062).
[[nodiscard]] int Bch_Update(const BchSatz& bch, std::int32_t fkt);
// Deletes the bookings of bch's person, date and time with function fkt;
// deleting nothing is a success (0).
[[nodiscard]] int Bch_Delete(const BchSatz& bch, std::int32_t fkt);
// Inserts a booking from bch's person, date, time, function and code.
[[nodiscard]] int Bch_Insert(const BchSatz& bch);

// Whole-day message bookings (function 1) of tag's person on its day.
[[nodiscard]] int Bch_CountTagMld(const TagSatz& tag, std::int32_t& count);
// Follow-ups of code with the given function (or since cancelled) booked on
// tag's day as the batch books them.
[[nodiscard]] int Bch_CountFollowUp(const TagSatz& tag, const char* code, std::int32_t function,
                                    std::int32_t& count);
// Hour-message bookings of tag's person inside tag's period as held in memory.
[[nodiscard]] int Bch_CountStdMld(const TagSatz& tag, std::int32_t& count);

#endif  // PIRZOL_DB_BCH_H_
