#include "db/tag.h"

#include <algorithm>
#include <cstdio>

#include "db/db.h"
#include "base/log.h"

namespace {

// The accounted date, or yesterday as a date: CURDATE() - 1 would be number
// arithmetic on the YYYYMMDD form and name day 00 on the first of every
// month. Ordered by person, so every server walks the night alike.
constexpr char kTagAkt[] =
    "SELECT       TagPnr, DATE_FORMAT(TagTag,'%%Y%%m%%d'),       "
    "DATE_FORMAT(TagVon,'%%Y%%m%%d'),       DATE_FORMAT(TagUhr, '%%H%%i%%s'),       "
    "DATE_FORMAT(TagBis,'%%Y%%m%%d'),       DATE_FORMAT(TagEnd, '%%H%%i%%s'), TgbSol, "
    "TagTgb, TagTgs,       TagHtv, TagHvs, TagHtn, TagHns FROM  Qel327Tag, Qel320Tgb WHERE "
    "TagTag = %s AND   DATE_FORMAT(TagVon, "
    "'%%Y%%m%%d')=DATE_FORMAT(TagBis, '%%Y%%m%%d') AND   DATE_FORMAT(TagUhr, "
    "'%%H%%i%%s')=DATE_FORMAT(TagEnd, '%%H%%i%%s') AND   DATE_FORMAT(TagUhr, '%%H%%i%%s') = "
    "'120000' AND   TgbPnr = TagPnr AND   TgbDtm = TagTag AND   TgbZtr = 1%s%s ORDER BY TagPnr";
constexpr char kFromPnr[] = " AND TagPnr >= '%s'";
constexpr char kToPnr[] = " AND TagPnr < '%s'";
constexpr char kOnePnr[] = " AND TagPnr = '%s'";

// One page of the person's history, newest first, from the day before
// `before` on: the search nearly always stops after a row or two, so the
// history of ten years is not shipped for it.
constexpr char kTagAlt[] =
    "SELECT TagPnr, DATE_FORMAT(TagTag,'%%Y%%m%%d'), DATE_FORMAT(TagVon,'%%Y%%m%%d'), "
    "DATE_FORMAT(TagUhr,'%%H%%i%%s'), DATE_FORMAT(TagBis,'%%Y%%m%%d'), "
    "DATE_FORMAT(TagEnd,'%%H%%i%%s'), TgbSol, TagTgb, TagTgs, TagHtv, TagHvs, TagHtn, TagHns, "
    // The whole-day count the search asks of every day it looks at, for the
    // day's own person and date, so that most searches need no further
    // statement. (The hour-message count depends on a period a NULL column
    // may leave to the newer day, and its dependent form would read every
    // booking of the person: it keeps its own statement.)
    "(SELECT COUNT(*) FROM Qel321Bch WHERE BchPnr=TagPnr AND BchVon=TagTag AND BchFkt=1), "
    // And the day messages already booked on the accounted day itself, which
    // the first check of a follow-up reads in this same transaction.
    "(SELECT COUNT(*) FROM Qel321Bch WHERE BchPnr='%s' AND DATE_FORMAT(BchVon,'%%Y%%m%%d')="
    "'%s'%s AND BchFkt IN (1,2,3)) FROM Qel327Tag,Qel320Tgb WHERE TagPnr='%s' AND "
    "DATE_FORMAT(TagTag,'%%Y%%m%%d') < '%s'%s%s AND TgbPnr = TagPnr AND TgbDtm = TagTag AND "
    "TgbZtr = 1 ORDER BY TagTag DESC LIMIT %d";

constexpr char kTagUpdate[] =
    "UPDATE QEL327Tag    SET TagTgb = '%s', TagTgs = %ld,        TagHtv = '%s', TagHvs = "
    "%ld,        TagHtn = '%s', TagHns = %ld  WHERE TagPnr = '%s'  AND   DATE_FORMAT(TagTag, "
    "'%%Y%%m%%d') = '%s'%s";

constexpr char kTagPrint[] =
    "\nTagPnr: %s\nTagTag: %s\nTagVon: %s\nTagUhr: %s\nTagBis: %s\nTagEnd: %s\nTagSol: %ld\n"
    "TagTgb: %s\nTagTgs: %ld\nTagHtv: %s\nTagHvs: %ld\nTagHtn: %s\nTagHns: %ld\n\n";

// The first page is small, as most searches end on it; each further page is
// larger, so a long search over years costs a few round trips, not one a day.
constexpr int kFirstPage = 4;
constexpr int kLargestPage = 512;

Cursor TagAkt{nullptr, nullptr, 0};
Cursor TagAlt{nullptr, nullptr, 0};

// Where the history read goes on: the person, the day it started before,
// the oldest day read so far and the size of the page in hand.
struct History {
  FixText<9> pnr;
  FixText<9> date;
  FixText<9> oldest;
  int page;
  // The whole-day count of the row read last; known 1 when it came.
  std::int32_t tagMld;
  int known;
  // The day messages on the accounted day, and the transaction they were
  // counted in; known 1 once a row came.
  std::int32_t dayMessages;
  std::uint64_t txn;
  std::uint64_t changes;  // Db_ChangeCount when dayMessages was read
  int dayKnown;
};
History Hist{};

int ReadInto(Cursor& cur, TagSatz& tag, MYSQL_ROW* out = nullptr) {
  MYSQL_ROW row = nullptr;
  int rc = Cur_Read(cur, row);
  if (rc != 0) return rc;
  Col_Text(tag.TagPnr, row[0]);
  Col_Text(tag.TagTag, row[1]);
  Col_Text(tag.TagVon, row[2]);
  Col_Text(tag.TagUhr, row[3]);
  Col_Text(tag.TagBis, row[4]);
  Col_Text(tag.TagEnd, row[5]);
  Col_Long(tag.TgbSol, row[6]);
  Col_Text(tag.TagTgb, row[7]);
  Col_Long(tag.TagTgs, row[8]);
  Col_Text(tag.TagHtv, row[9]);
  Col_Long(tag.TagHvs, row[10]);
  Col_Text(tag.TagHtn, row[11]);
  Col_Long(tag.TagHns, row[12]);
  if (out != nullptr) *out = row;
  return 0;
}

int OpenHistoryPage() {
  Sql_Format(kTagAlt, SqlValue(Hist.pnr).c_str(), SqlValue(Hist.date).c_str(),
             Sql_DateKey(2, "BchVon", "=", Hist.date.c_str()), SqlValue(Hist.pnr).c_str(),
             SqlValue(Hist.date).c_str(),
             Sql_DateKey(0, "TagTag", "<", Hist.date.c_str()),
             Sql_DateKey(1, "TagTag", "<", Hist.oldest.c_str()), Hist.page);
  return Cur_OpenFormatted(TagAlt);
}

}  // namespace

void Tag_Print(const TagSatz& tag) {
  Trace(kTagPrint, tag.TagPnr.c_str(), tag.TagTag.c_str(), tag.TagVon.c_str(),
        tag.TagUhr.c_str(), tag.TagBis.c_str(), tag.TagEnd.c_str(),
        static_cast<long>(tag.TgbSol), tag.TagTgb.c_str(), static_cast<long>(tag.TagTgs),
        tag.TagHtv.c_str(), static_cast<long>(tag.TagHvs), tag.TagHtn.c_str(),
        static_cast<long>(tag.TagHns));
}

int TagAkt_Open(const char* date, const char* from, const char* to) {
  char day[32] = "CURDATE() - INTERVAL 1 DAY";
  if (date != nullptr) std::snprintf(day, sizeof day, "'%s'", SqlValue<9>(date).c_str());
  char low[2 * kPnrBoundSize + 32] = {};
  char high[2 * kPnrBoundSize + 32] = {};
  if (from != nullptr && from[0] != '\0') {
    std::snprintf(low, sizeof low, kFromPnr, SqlValue<kPnrBoundSize>(from).c_str());
  }
  if (to != nullptr && to[0] != '\0') {
    std::snprintf(high, sizeof high, kToPnr, SqlValue<kPnrBoundSize>(to).c_str());
  }
  Sql_Format(kTagAkt, day, low, high);
  return Cur_OpenFormatted(TagAkt);
}

int TagAkt_OpenPerson(const char* date, const char* pnr) {
  char one[2 * kPnrBoundSize + 32] = {};
  std::snprintf(one, sizeof one, kOnePnr, SqlValue<kPnrBoundSize>(pnr).c_str());
  Sql_Format(kTagAkt, (std::string("'") + SqlValue<9>(date).c_str() + "'").c_str(), one, "");
  return Cur_OpenFormatted(TagAkt);
}

int TagAkt_Bounds(const char* date, int slices, std::vector<std::string>& bounds) {
  bounds.clear();
  int rc = TagAkt_Open(date);
  if (rc != 0) return rc;
  const auto rows = static_cast<std::uint64_t>(mysql_num_rows(TagAkt.result));
  const auto n = std::min(static_cast<std::uint64_t>(slices > 0 ? slices : 1), rows);
  for (std::uint64_t k = 1; k < n; ++k) {
    mysql_data_seek(TagAkt.result, k * rows / n);
    MYSQL_ROW row = mysql_fetch_row(TagAkt.result);
    unsigned long* lengths = mysql_fetch_lengths(TagAkt.result);
    if (row == nullptr || row[0] == nullptr || lengths == nullptr) continue;
    std::string pnr(row[0], std::min<unsigned long>(lengths[0], kPnrBoundSize - 1));
    // Two equal bounds would make one slice empty, never two slices meet.
    if (bounds.empty() || bounds.back() != pnr) bounds.push_back(pnr);
  }
  (void)TagAkt_Close();
  return 0;
}

int TagAkt_Read(TagSatz& tag) {
  int rc = ReadInto(TagAkt, tag);
  if (rc != 0) return rc;
  unsigned long* lengths = mysql_fetch_lengths(TagAkt.result);
  if (lengths != nullptr && lengths[0] > tag.TagPnr.capacity() - 1) return TAG_PNR_TOO_LONG;
  return 0;
}
int TagAkt_Close() { return Cur_Close(TagAkt); }

int TagAlt_Open(const char* pnr, const char* date) {
  Hist.pnr.assign(pnr);
  Hist.date.assign(date);
  Hist.oldest.assign("");
  Hist.page = kFirstPage;
  Hist.dayKnown = 0;
  return OpenHistoryPage();
}

int TagAlt_Read(TagSatz& tag) {
  Hist.known = 0;
  MYSQL_ROW row = nullptr;
  int rc = ReadInto(TagAlt, tag, &row);
  // A page that came back full may have more behind it.
  if (rc == END_OF_DATA && TagAlt.rows >= Hist.page) {
    Hist.page = Hist.page * 4 > kLargestPage ? kLargestPage : Hist.page * 4;
    rc = OpenHistoryPage();
    if (rc != 0) return rc;
    rc = ReadInto(TagAlt, tag, &row);
  }
  if (rc != 0) return rc;
  Hist.oldest.assign(row[1]);  // TagTag is never NULL: the key of the next page
  if (row[13] != nullptr) {
    Hist.tagMld = Num_Parse(row[13]);
    Hist.known = 1;
  }
  if (row[14] != nullptr) {
    Hist.dayMessages = Num_Parse(row[14]);
    Hist.txn = Db_TxnSeq();
    Hist.changes = Db_ChangeCount();
    Hist.dayKnown = 1;
  }
  return 0;
}

int TagAlt_DayMessages(const char* pnr, const char* date, std::int32_t& count) {
  // A follow-up booked since, in the same transaction, is a day message the
  // count does not know of (a dry run keeps every unit in one transaction).
  if (Hist.dayKnown == 0 || Hist.txn != Db_TxnSeq() || Hist.changes != Db_ChangeCount() ||
      !(Hist.pnr == pnr) || !(Hist.date == date)) {
    return DB_NO_RESULT;
  }
  count = Hist.dayMessages;
  return 0;
}

int TagAlt_CountTagMld(std::int32_t& count) {
  if (Hist.known == 0) return DB_NO_RESULT;
  count = Hist.tagMld;
  return 0;
}
int TagAlt_Close() { return Cur_Close(TagAlt); }

int Tag_Update(const TagSatz& tag) {
  Sql_Format(kTagUpdate, SqlValue(tag.TagTgb).c_str(), static_cast<long>(tag.TagTgs),
             SqlValue(tag.TagHtv).c_str(), static_cast<long>(tag.TagHvs),
             SqlValue(tag.TagHtn).c_str(), static_cast<long>(tag.TagHns),
             SqlValue(tag.TagPnr).c_str(), SqlValue(tag.TagTag).c_str(),
             Sql_DateKey(0, "TagTag", "=", tag.TagTag.c_str()));
  return Db_Change();
}
