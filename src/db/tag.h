// Day records: a day of Qel327Tag joined with its target row of Qel320Tgb.
// The driving statement over yesterday's placeholder days, the search over
// one person's earlier days, and the write-back of the three message slots.
#ifndef PIRZOL_DB_TAG_H_
#define PIRZOL_DB_TAG_H_

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "base/fixtext.h"
#include "base/result.h"

struct TagSatz {
  FixText<9> TagPnr;    // personnel number, up to 8 characters
  FixText<9> TagTag;    // day, YYYYMMDD
  FixText<9> TagVon;    // period start date, YYYYMMDD
  FixText<7> TagUhr;    // period start time, HHMMSS
  FixText<9> TagBis;    // period end date, YYYYMMDD
  FixText<9> TagEnd;    // period end time, HHMMSS
  std::int32_t TgbSol;  // target time; 0 or less: the day has none
  FixText<4> TagTgb;    // slot 1: whole-day message code
  std::int32_t TagTgs;  // slot 1 value
  FixText<4> TagHtv;    // slot 2 code
  std::int32_t TagHvs;  // slot 2 value
  FixText<4> TagHtn;    // slot 3 code
  std::int32_t TagHns;  // slot 3 value
};
static_assert(std::is_trivially_copyable_v<TagSatz>);

// A slice's bound is taken from the server whole up to this size, terminator
// included; a longer personnel number is cut, the same way on both sides of
// the bound, so the slices still cover every person once.
constexpr std::size_t kPnrBoundSize = 65;

// Opens the driving cursor over the whole-day placeholder records of date
// (YYYYMMDD), or of the server's yesterday without one; with from or to (not
// empty) only the persons from from on and before to, as the server
// compares them: one slice of the night.
[[nodiscard]] int TagAkt_Open(const char* date = nullptr, const char* from = nullptr,
                              const char* to = nullptr);
// As TagAkt_Open, over the one person pnr (as the server compares it).
[[nodiscard]] int TagAkt_OpenPerson(const char* date, const char* pnr);
// The first personnel number of every slice but the first when date's
// driving rows are cut into slices contiguous runs of about equal length, in
// the driving order: slice k runs from bounds[k-1] (the first from the start)
// to bounds[k] (the last to the end). Fewer when the night has fewer persons.
// 0 or the error number.
[[nodiscard]] int TagAkt_Bounds(const char* date, int slices, std::vector<std::string>& bounds);
// Next driving row into tag (NULL columns leave fields alone): 0,
// END_OF_DATA, DB_NO_RESULT, or TAG_PNR_TOO_LONG when the personnel number is
// longer than TagPnr holds; the record then holds the cut number, which may
// name another person, so the caller must not work on it.
[[nodiscard]] int TagAkt_Read(TagSatz& tag);
int TagAkt_Close();

// Opens the cursor over pnr's day records strictly before date, newest
// first. The rows come a page at a time; TagAlt_Read fetches the next page
// when one is read to its end.
[[nodiscard]] int TagAlt_Open(const char* pnr, const char* date);
[[nodiscard]] int TagAlt_Read(TagSatz& tag);
// The whole-day message count of the row TagAlt_Read handed out last, as
// Bch_CountTagMld would give it for that record: 0, or DB_NO_RESULT when it
// did not come with the row and must be asked of the server.
[[nodiscard]] int TagAlt_CountTagMld(std::int32_t& count);
// The day-message bookings (functions 1, 2, 3) of pnr on date as the last
// TagAlt_Open(pnr, date) counted them, when no COMMIT or ROLLBACK came since:
// what BchAbrTag_Open would find in the same transaction. 0, or
// DB_NO_RESULT when that count is not at hand.
[[nodiscard]] int TagAlt_DayMessages(const char* pnr, const char* date, std::int32_t& count);
int TagAlt_Close();

// Dumps tag on the console trace.
void Tag_Print(const TagSatz& tag);

// Writes the three slots of tag to its person and day: 0 when a row changed,
// DB_NO_ROW_CHANGED when none did, otherwise the server's error number.
[[nodiscard]] int Tag_Update(const TagSatz& tag);

#endif  // PIRZOL_DB_TAG_H_
