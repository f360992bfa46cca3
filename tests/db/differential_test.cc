// The statements that use the keys against the statements they replaced.
// The replaced texts are kept here as the reference and run on the same
// session as the batch's own functions, over randomized data with the
// awkward cases the night meets: NULL periods, bookings whose time carries
// another date, equal times, month and year ends, histories longer than
// every page, days without a target row. Every read must hand out the rows
// the reference returned, in the order the batch relies on; the counts the
// history read brings with each row must be the reference's counts; every
// change must change the same rows.
#include <gtest/gtest.h>
#include <mysql.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "db/azv.h"
#include "db/bch.h"
#include "db/db.h"
#include "db/fcd.h"
#include "db/tag.h"
#include "support/dbtest.h"

namespace {

// The statements as the batch sent them before they carried key conditions,
// pages and orders, formatted and escaped the same way.
constexpr char kRefTagAkt[] =
    "SELECT       TagPnr, DATE_FORMAT(TagTag,'%%Y%%m%%d'),       "
    "DATE_FORMAT(TagVon,'%%Y%%m%%d'),       DATE_FORMAT(TagUhr, '%%H%%i%%s'),       "
    "DATE_FORMAT(TagBis,'%%Y%%m%%d'),       DATE_FORMAT(TagEnd, '%%H%%i%%s'), TgbSol, "
    "TagTgb, TagTgs,       TagHtv, TagHvs, TagHtn, TagHns FROM  Qel327Tag, Qel320Tgb WHERE "
    "TagTag = %s AND   DATE_FORMAT(TagVon, "
    "'%%Y%%m%%d')=DATE_FORMAT(TagBis, '%%Y%%m%%d') AND   DATE_FORMAT(TagUhr, "
    "'%%H%%i%%s')=DATE_FORMAT(TagEnd, '%%H%%i%%s') AND   DATE_FORMAT(TagUhr, '%%H%%i%%s') = "
    "'120000' AND   TgbPnr = TagPnr AND   TgbDtm = TagTag AND   TgbZtr = 1 ";

constexpr char kRefTagAlt[] =
    "SELECT    TagPnr, DATE_FORMAT(TagTag,'%%Y%%m%%d'),    DATE_FORMAT(TagVon,'%%Y%%m%%d'),  "
    "  DATE_FORMAT(TagUhr, '%%H%%i%%s'),    DATE_FORMAT(TagBis,'%%Y%%m%%d'),    "
    "DATE_FORMAT(TagEnd, '%%H%%i%%s'), TgbSol, TagTgb, TagTgs,    TagHtv, TagHvs, TagHtn, "
    "TagHns FROM Qel327Tag, Qel320Tgb WHERE TagPnr = '%s' AND DATE_FORMAT(TagTag, "
    "'%%Y%%m%%d')  < '%s' AND TgbPnr = TagPnr AND TgbDtm = TagTag AND TgbZtr = 1 ORDER BY "
    "TagTag DESC ";

constexpr char kRefTagUpdate[] =
    "UPDATE QEL327Tag    SET TagTgb = '%s', TagTgs = %ld,        TagHtv = '%s', TagHvs = "
    "%ld,        TagHtn = '%s', TagHns = %ld  WHERE TagPnr = '%s'  AND   DATE_FORMAT(TagTag, "
    "'%%Y%%m%%d') = '%s' ";

constexpr char kRefBchVortag[] =
    "SELECT     BchPnr, DATE_FORMAT(BchVon,'%%Y%%m%%d'),     "
    "DATE_FORMAT(BchUhr,'%%H%%i%%s'),     BchFkt, DATE_FORMAT(BchBis,'%%Y%%m%%d'),     "
    "DATE_FORMAT(BchVws,'%%H%%i%%s'),     BchFcd, BchZwt, BchAbt, BchKst, BchKtr, BchKrt, "
    "BchAzt, BchVra,     BchTxt, BchSta, BchErf, BchTrm FROM Qel321Bch WHERE BchPnr = '%s' "
    "AND DATE_FORMAT(BchVon, '%%Y%%m%%d') = '%s' AND (BchFkt = 1 OR BchFkt = 2 OR BchFkt = "
    "3) ";

constexpr char kRefBchAbrTag[] =
    "SELECT     BchPnr, DATE_FORMAT(BchVon,'%%Y%%m%%d'),     "
    "DATE_FORMAT(BchUhr,'%%H%%i%%s'),     BchFkt, DATE_FORMAT(BchBis,'%%Y%%m%%d'),     "
    "DATE_FORMAT(BchVws,'%%H%%i%%s'),     BchFcd, BchZwt, BchAbt, BchKst, BchKtr, BchKrt, "
    "BchAzt, BchVra,     BchTxt, BchSta, BchErf, BchTrm FROM Qel321Bch WHERE BchPnr = '%s' "
    "AND DATE_FORMAT(BchVon, '%%Y%%m%%d') = '%s' AND (BchFkt = 1 OR BchFkt = 2 OR BchFkt = 3)";

constexpr char kRefBchStdMld[] =
    "SELECT     BchPnr, DATE_FORMAT(BchVon,'%%Y%%m%%d'),     "
    "DATE_FORMAT(BchUhr,'%%H%%i%%s'),     BchFkt, DATE_FORMAT(BchBis,'%%Y%%m%%d'),     "
    "DATE_FORMAT(BchVws,'%%H%%i%%s'),     BchFcd, BchZwt, BchAbt, BchKst, BchKtr, BchKrt, "
    "BchAzt, BchVra,     BchTxt, BchSta, BchErf, BchTrm FROM Qel321Bch, Qel327Tag WHERE "
    "TagPnr = '%s' AND   TagPnr = BchPnr AND  DATE_FORMAT(TagTag, '%%Y%%m%%d') = '%s' AND  "
    "CONCAT(DATE_FORMAT(BchVon,'%%Y%%m%%d'), DATE_FORMAT(BchUhr,'%%H%%i%%s'))      >=  "
    "CONCAT(DATE_FORMAT(TagVon,'%%Y%%m%%d'), DATE_FORMAT(TagUhr,'%%H%%i%%s')) AND  "
    "CONCAT(DATE_FORMAT(BchVon,'%%Y%%m%%d'), DATE_FORMAT(BchUhr,'%%H%%i%%s'))      <=  "
    "CONCAT(DATE_FORMAT(TagBis,'%%Y%%m%%d'), DATE_FORMAT(TagEnd,'%%H%%i%%s')) AND  BchFkt <> "
    "45 AND  BchFkt <> 29 ORDER BY CONCAT(DATE_FORMAT(BchVon,'%%Y%%m%%d'),                 "
    "DATE_FORMAT(BchUhr,'%%H%%i%%s')) DESC ";

constexpr char kRefBchUpdate[] =
    "UPDATE QEL321Bch    SET BchFkt = %ld,        BchDat = sysdate(),        BchErf = "
    "'Korvane' WHERE BchPnr = '%s' AND DATE_FORMAT(BchVon, '%%Y%%m%%d') = '%s' AND "
    "DATE_FORMAT(BchUhr, '%%H%%i%%s') = '%s' AND BchFkt = %ld ";

constexpr char kRefBchDelete[] =
    "DELETE FROM QEL321Bch  WHERE BchPnr = '%s'  AND   DATE_FORMAT(BchVon, '%%Y%%m%%d') = "
    "'%s'  AND   DATE_FORMAT(BchUhr, '%%H%%i%%s') = '%s'  AND   BchFkt = %ld ";

constexpr char kRefBchCountTagMld[] =
    "SELECT COUNT(*) FROM  Qel321Bch WHERE BchPnr = '%s'   AND DATE_FORMAT(BchVon, "
    "'%%Y%%m%%d') = '%s'   AND BchFkt = 1 ";

constexpr char kRefBchCountStdMld[] =
    "SELECT COUNT(*) FROM  Qel321Bch WHERE BchPnr = '%s' AND CONCAT(DATE_FORMAT(BchVon, "
    "'%%Y%%m%%d'),             DATE_FORMAT(BchUhr,'%%H%%i%%s'))  >= '%s%s' AND "
    "CONCAT(DATE_FORMAT(BchVon, '%%Y%%m%%d'),             DATE_FORMAT(BchUhr,'%%H%%i%%s'))  "
    "<= '%s%s'    AND (BchFkt = 21     OR  BchFkt = 22     OR  BchFkt = 23     OR  BchFkt = "
    "24     OR  BchFkt = 25     OR  BchFkt = 29     OR  BchFkt = 30     OR  BchFkt = 0) ";

constexpr char kRefAzvRead[] =
    "SELECT    AzvNum, DATE_FORMAT(ZtgVon,'%%Y%%m%%d'), AzvSol,    AzvSo2, AzvVhs, AzvHso, "
    "AzvHs2, AzvHtv FROM  Qel329Ztg, Qel140Azv WHERE ZtgPnr = '%s' AND "
    "DATE_FORMAT(ZtgVon,'%%Y%%m%%d') = '%s' AND ZtgAzt = AzvNum AND ZtgVon >= AzvGvo AND "
    "ZtgSta < 4 AND AzvSta < 4 AND (ZtgVon <= AzvGbi OR AzvGbi IS NULL) ";

constexpr char kRefFcdReadFlg[] =
    "SELECT FcdFlg FROM  Qel131Fcd WHERE FcdNum = '%s' AND   FcdSta < 4 ";

constexpr char kRefFcdRead[] =
    "SELECT   FcdNum, FcdTyp, FcdZwt, FcdStd, FcdSol,   COALESCE(FcdPri, 0), "
    "COALESCE(FcdGpu, 0),    COALESCE(FcdFcd, -9), FcdFlg FROM Qel131Fcd WHERE FcdNum = '%s' ";

// What each change leaves in its table; BchDat, the server's time of the
// change, differs between any two runs and is left out.
constexpr char kTagDigest[] =
    "SELECT COUNT(*), SUM(CRC32(CONCAT_WS('|', TagPnr, TagTag, IFNULL(TagVon, '~'),"
    " IFNULL(TagUhr, '~'), IFNULL(TagBis, '~'), IFNULL(TagEnd, '~'), IFNULL(TagTgb, '~'),"
    " IFNULL(TagTgs, '~'), IFNULL(TagHtv, '~'), IFNULL(TagHvs, '~'), IFNULL(TagHtn, '~'),"
    " IFNULL(TagHns, '~')))) FROM Qel327Tag";
constexpr char kBchDigest[] =
    "SELECT COUNT(*), SUM(CRC32(CONCAT_WS('|', BchPnr, BchVon, BchUhr, BchFkt,"
    " IFNULL(BchFcd, '~'), IFNULL(BchErf, '~')))) FROM Qel321Bch";

// A NULL column as a row shows it, and the values a record field holds
// before a read, so that a field a NULL column left alone shows as NULL.
constexpr char kNull[] = "<NULL>";
constexpr char kUnsetText[] = "\x01";
constexpr std::int32_t kUnset = -2147483647;

using Row = std::vector<std::string>;

// Column kinds of a row as the record takes it: T text, N number through the
// number rule, - a column the record does not keep.
constexpr char kTagKinds[] = "TTTTTTNTNTNTN";
constexpr char kBchKinds[] = "TTTNTTTNTTTTTTNN--";
constexpr char kAzvKinds[] = "T-NNNNNN";
constexpr char kFcdKinds[] = "TNNNNNNNT";

// Eight digits that name no day. No stored date reads back so, but the key
// condition is added beside the DATE_FORMAT one for any eight digits, and
// must then select what the text comparison alone selected.
const std::vector<std::string> kNoDays = {"20241232", "20241301", "99999999", "20240230"};

// Said beside a failure on such a value.
std::string NoDay(const std::string& date) {
  if (std::find(kNoDays.begin(), kNoDays.end(), date) == kNoDays.end()) return "";
  return " (eight digits that name no day: the key condition compares with the date the server"
         " makes of them, the DATE_FORMAT condition with the text)";
}

// ---------------------------------------------------------------------------
// Civil dates as day numbers, so the generator can step over month and
// year ends and leap days without asking the server.

long DayNumber(int y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yoe = y - era * 400;
  const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

std::string DateText(long n, bool iso) {
  n += 719468;
  const long era = (n >= 0 ? n : n - 146096) / 146097;
  const long doe = n - era * 146097;
  const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long mp = (5 * doy + 2) / 153;
  const long d = doy - (153 * mp + 2) / 5 + 1;
  const long m = mp < 10 ? mp + 3 : mp - 9;
  const long y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  char buf[64];  // any three longs: the compiler cannot see that the year has four digits
  std::snprintf(buf, sizeof buf, iso ? "%04ld-%02ld-%02ld" : "%04ld%02ld%02ld", y, m, d);
  return buf;
}
std::string Ymd(long n) { return DateText(n, false); }
std::string Iso(long n) { return DateText(n, true); }

// ---------------------------------------------------------------------------
// Rows of the reference and of the records the functions fill.

struct Result {
  int rc = 0;
  std::vector<Row> rows;
};

// Runs the statement Sql_Format made last on a cursor of the test's own.
Result RunFormatted() {
  Result res;
  Cursor cur{nullptr, nullptr, 0};
  res.rc = Cur_OpenFormatted(cur);
  if (res.rc != 0 || cur.result == nullptr) return res;
  const unsigned n = mysql_num_fields(cur.result);
  MYSQL_ROW row = nullptr;
  while (Cur_Read(cur, row) == 0) {
    Row r;
    for (unsigned i = 0; i < n; ++i) r.emplace_back(row[i] == nullptr ? kNull : row[i]);
    res.rows.push_back(r);
  }
  (void)Cur_Close(cur);
  return res;
}

// A reference row as the record would hold it.
Row Decode(const Row& raw, const char* kinds) {
  Row out;
  for (std::size_t i = 0; kinds[i] != '\0' && i < raw.size(); ++i) {
    if (kinds[i] == '-') continue;
    if (raw[i] == kNull || kinds[i] == 'T') {
      out.push_back(raw[i]);
    } else {
      out.push_back(std::to_string(Num_Parse(raw[i].c_str())));
    }
  }
  return out;
}
std::vector<Row> Decode(const std::vector<Row>& raw, const char* kinds) {
  std::vector<Row> out;
  for (const Row& r : raw) out.push_back(Decode(r, kinds));
  return out;
}

template <std::size_t N>
std::string Col(const FixText<N>& f) {
  return f == kUnsetText ? std::string(kNull) : std::string(f.c_str());
}
std::string Col(std::int32_t v) { return v == kUnset ? std::string(kNull) : std::to_string(v); }
template <std::size_t N>
void Unset(FixText<N>& f) {
  f.assign(kUnsetText);
}

TagSatz UnsetTag() {
  TagSatz t{};
  Unset(t.TagPnr), Unset(t.TagTag), Unset(t.TagVon), Unset(t.TagUhr), Unset(t.TagBis);
  Unset(t.TagEnd), Unset(t.TagTgb), Unset(t.TagHtv), Unset(t.TagHtn);
  t.TgbSol = t.TagTgs = t.TagHvs = t.TagHns = kUnset;
  return t;
}
Row TagRow(const TagSatz& t) {
  return {Col(t.TagPnr), Col(t.TagTag), Col(t.TagVon), Col(t.TagUhr), Col(t.TagBis),
          Col(t.TagEnd), Col(t.TgbSol), Col(t.TagTgb), Col(t.TagTgs), Col(t.TagHtv),
          Col(t.TagHvs), Col(t.TagHtn), Col(t.TagHns)};
}
// What the batch's record holds after reading fresh into acc: a NULL column
// leaves the field of the row read before.
void Carry(TagSatz& acc, const TagSatz& fresh) {
  auto text = [](auto& to, const auto& from) {
    if (!(from == kUnsetText)) to.assign(from.c_str());
  };
  auto num = [](std::int32_t& to, std::int32_t from) {
    if (from != kUnset) to = from;
  };
  text(acc.TagPnr, fresh.TagPnr), text(acc.TagTag, fresh.TagTag), text(acc.TagVon, fresh.TagVon);
  text(acc.TagUhr, fresh.TagUhr), text(acc.TagBis, fresh.TagBis), text(acc.TagEnd, fresh.TagEnd);
  num(acc.TgbSol, fresh.TgbSol), text(acc.TagTgb, fresh.TagTgb), num(acc.TagTgs, fresh.TagTgs);
  text(acc.TagHtv, fresh.TagHtv), num(acc.TagHvs, fresh.TagHvs), text(acc.TagHtn, fresh.TagHtn);
  num(acc.TagHns, fresh.TagHns);
}

BchSatz UnsetBch() {
  BchSatz b{};
  Unset(b.BchPnr), Unset(b.BchVon), Unset(b.BchUhr), Unset(b.BchBis), Unset(b.BchVws);
  Unset(b.BchFcd), Unset(b.BchAbt), Unset(b.BchKst), Unset(b.BchKtr), Unset(b.BchKrt);
  Unset(b.BchAzt), Unset(b.BchVra);
  b.BchFkt = b.BchZwt = b.BchTxt = b.BchSta = kUnset;
  return b;
}
Row BchRow(const BchSatz& b) {
  return {Col(b.BchPnr), Col(b.BchVon), Col(b.BchUhr), Col(b.BchFkt), Col(b.BchBis),
          Col(b.BchVws), Col(b.BchFcd), Col(b.BchZwt), Col(b.BchAbt), Col(b.BchKst),
          Col(b.BchKtr), Col(b.BchKrt), Col(b.BchAzt), Col(b.BchVra), Col(b.BchTxt),
          Col(b.BchSta)};
}

std::string Show(const Row& r) {
  std::string s;
  for (const std::string& c : r) s += (s.empty() ? "" : "|") + c;
  return s;
}
std::string Show(const std::vector<Row>& rows) {
  std::string s;
  for (std::size_t i = 0; i < rows.size() && i < 12; ++i) s += "\n  " + Show(rows[i]);
  if (rows.size() > 12) s += "\n  ... " + std::to_string(rows.size()) + " rows";
  return s;
}
// Where two sequences first part, for a failure message.
std::string FirstDifference(const std::vector<Row>& want, const std::vector<Row>& got) {
  std::size_t i = 0;
  while (i < want.size() && i < got.size() && want[i] == got[i]) ++i;
  return "rows " + std::to_string(want.size()) + " vs " + std::to_string(got.size()) +
         ", first difference at " + std::to_string(i) + ":\n  reference " +
         (i < want.size() ? Show(want[i]) : "(end)") + "\n  now       " +
         (i < got.size() ? Show(got[i]) : "(end)");
}

// ---------------------------------------------------------------------------
// The randomized data: persons with histories ending on the seed's night,
// their target rows, bookings, assignments, rules and message types.

struct Booking {
  std::string pnr;
  long von;
  long uhrDay;  // the date BchUhr carries, mostly von
  std::string time;
  int fkt;
};

struct Person {
  std::string pnr;
  std::vector<long> days;    // every day record, oldest first
  std::vector<long> joined;  // the days with a target row of TgbZtr 1
};

struct Model {
  long night = 0;
  std::vector<Person> persons;
  std::vector<Booking> bookings;
  std::set<long> placeholderDays;
  std::vector<std::pair<std::string, long>> assignments;
  // The person and day of each awkward case made, by case: the probes are
  // drawn from each, and a generator change that loses one shows.
  std::map<std::string, std::vector<std::pair<std::string, long>>> made;
};

// Case-insensitive twins, quotes, backslashes, wildcards and an umlaut of
// one byte (the session is latin1): the values go through the escape.
const std::vector<std::string> kPnrs = {"00000001", "00004711", "ab12",   "O'Br",
                                        "\xC4rz9",  "X\\%_",    "7",      "12345678"};
const std::vector<std::string> kCodes = {"K", "KF", "U", "UF", "GL", "H1", "H2", "\xDC" "S",
                                         "O'B", "A\\"};
// Codes the batch may ask for that are spelled otherwise or not there.
const std::vector<std::string> kAskedCodes = {"k", "kf", "K ", "\xFC" "s", "ZZ", "", "KFXY",
                                              "ABCDEF", "o'b", "%", "_"};

class Differential : public DbTest {
 protected:
  // Runs sql on the program's session; the caller commits.
  void Run(const std::string& sql) {
    Cursor cur{sql.c_str(), nullptr, 0};
    const int rc = Cur_Open(cur);
    ASSERT_EQ(rc, 0) << Db_ErrText() << "\n" << sql.substr(0, 400);
    (void)Cur_Close(cur);  // statements without a result answer -1
  }
  // Escapes through the session, so latin1 bytes arrive as one character.
  std::string Q(const std::string& s) {
    std::vector<char> buf(2 * s.size() + 1);
    Db_Escape(buf.data(), s.c_str(), s.size());
    return "'" + std::string(buf.data()) + "'";
  }
  void Insert(const std::string& head, const std::vector<std::string>& values) {
    for (std::size_t i = 0; i < values.size(); i += 300) {
      std::string sql = head;
      for (std::size_t j = i; j < values.size() && j < i + 300; ++j) {
        sql += (j == i ? " " : ", ") + values[j];
      }
      Run(sql);
    }
  }

  void Generate(unsigned seed, long night);
  void CompareDriving();
  void CompareHistories();
  void CompareBookingReads();
  void CompareCounts(const TagSatz& tag, const std::string& what, int known = 0,
                     std::int32_t tagMld = 0);
  void CompareChanges();
  void CompareRules();
  void CompareTypes();

  // A failure in every family is shown, but a broken statement does not
  // bury the log under one message per probe.
  bool Report(const std::string& family) { return ++failures_[family] <= 5; }

  std::mt19937 rng_;
  Model m_;
  std::vector<TagSatz> records_;  // day records as the search hands them to the counts
  std::vector<BchSatz> bookings_;  // bookings as the reads hand them to the cancellation
  std::map<std::string, int> failures_;
  std::map<std::string, int> probes_;

  int Pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }
  bool Chance(int percent) { return Pick(100) < percent; }
  template <typename T>
  const T& Any(const std::vector<T>& v) {
    return v[Pick(static_cast<int>(v.size()))];
  }
};

std::string Time(int h, int mi, int s = 0) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", h, mi, s);
  return buf;
}

void Differential::Generate(unsigned seed, long night) {
  rng_.seed(seed);
  m_ = Model{};
  m_.night = night;
  for (const char* t : {"Qel327Tag", "Qel320Tgb", "Qel321Bch", "Qel131Fcd", "Qel329Ztg",
                        "Qel140Azv"}) {
    Run(std::string("DELETE FROM ") + t);
  }

  // History lengths: one person far past every page (4 + 16 + 64 + 256 and a
  // page of 512), the rest spread over the page bounds, one with none.
  std::vector<int> lengths = {700 + Pick(500), 0, 1, 6, 30, 100, 200, 420};
  std::shuffle(lengths.begin() + 1, lengths.end(), rng_);

  std::vector<std::string> tags, tgbs, bchs, ztgs;
  std::set<std::string> bchKeys;
  auto code = [&]() -> std::string {
    const int r = Pick(100);
    if (r < 55) return "''";
    if (r < 62) return "NULL";
    return Q(Any(kCodes));
  };
  auto num = [&](int lo, int hi) -> std::string {
    return Chance(8) ? "NULL" : std::to_string(lo + Pick(hi - lo + 1));
  };
  auto book = [&](const std::string& pnr, long von, long uhrDay, const std::string& time,
                  int fkt, const std::string& fcd) {
    const std::string key = pnr + "|" + Ymd(von) + "|" + Ymd(uhrDay) + time + "|" +
                            std::to_string(fkt);
    if (!bchKeys.insert(key).second) return false;
    const char* texts[] = {"''", "NULL", "'12'", "'x7'", "'-3'"};
    bchs.push_back("(" + Q(pnr) + ", '" + Iso(von) + "', '" + Iso(uhrDay) + " " + time + "', " +
                   std::to_string(fkt) + ", " + (Chance(70) ? "NULL" : "'" + Iso(von) + "'") +
                   ", " + (Chance(70) ? "NULL" : "'" + Iso(von) + " 10:30:00'") + ", " + fcd +
                   ", " + num(0, 9) + ", " + (Chance(20) ? "NULL" : "'A1'") + ", " +
                   (Chance(20) ? "NULL" : "'KST 4'") + ", '', NULL, 'Z1', '', " +
                   texts[Pick(5)] + ", " + num(0, 3) + ", " + (Chance(50) ? "NULL" : "'term'") +
                   ", '')");
    Booking b{pnr, von, uhrDay, time.substr(0, 2) + time.substr(3, 2) + time.substr(6, 2), fkt};
    m_.bookings.push_back(b);
    return true;
  };

  for (std::size_t p = 0; p < kPnrs.size(); ++p) {
    Person person;
    person.pnr = kPnrs[p];
    const int len = lengths[p];
    const long first = night - len + 1;
    const long last = len == 0 ? night - 1 : night + (p % 2 == 1 ? 3 : 0);  // some plan ahead
    for (long d = first; d <= last; ++d) {
      auto note = [&](const char* what) { m_.made[what].push_back({person.pnr, d}); };
      const bool placeholder = d == night || Chance(3);
      if (placeholder) m_.placeholderDays.insert(d);
      // Target rows: mostly TgbZtr 1; some days none, another number only,
      // or both.
      const int t = Pick(100);
      const bool joined = t < 82 || t >= 96;
      if (t < 82) {
        tgbs.push_back("(" + Q(person.pnr) + ", '" + Iso(d) + "', 1, " + num(-60, 480) + ")");
      } else if (t < 90) {
        tgbs.push_back("(" + Q(person.pnr) + ", '" + Iso(d) + "', " + std::to_string(2 + Pick(3)) +
                       ", 480)");
        note("day with another target number only");
      } else if (t < 96) {
        note("day without target row");
      } else {
        tgbs.push_back("(" + Q(person.pnr) + ", '" + Iso(d) + "', 1, 480), (" + Q(person.pnr) +
                       ", '" + Iso(d) + "', 2, 240)");
      }
      person.days.push_back(d);
      if (joined) person.joined.push_back(d);

      // The period: on the day, or NULL, or reaching into a neighbour day,
      // with times whose DATETIME carries another date now and then.
      std::string von = "'" + Iso(d) + "'", bis = von;
      std::string uhr = "'" + Iso(d) + " " + Time(7, Pick(60)) + "'";
      std::string end = "'" + Iso(d) + " " + Time(15 + Pick(3), Pick(60)) + "'";
      if (placeholder) {
        uhr = end = "'" + Iso(d) + " 12:00:00'";
        if (Chance(10)) end = "'" + Iso(d + 1) + " 12:00:00'";  // times alike, dates not
      } else {
        const int r = Pick(100);
        if (r < 4) {
          von = "NULL", note("NULL TagVon");
        } else if (r < 8) {
          uhr = "NULL", note("NULL TagUhr");
        } else if (r < 12) {
          bis = "NULL", note("NULL TagBis");
        } else if (r < 16) {
          end = "NULL", note("NULL TagEnd");
        } else if (r < 19) {
          von = "'" + Iso(d - 1) + "'", uhr = "'" + Iso(d - 1) + " 22:00:00'";
          note("period from the day before");
        } else if (r < 22) {
          bis = "'" + Iso(d + 1) + "'", end = "'" + Iso(d + 1) + " 06:00:00'";
        } else if (r < 25) {
          uhr = "'" + Iso(d + 5) + " 07:30:00'";
          note("TagUhr carrying another date");
        } else if (r < 27) {
          von = uhr = bis = end = "NULL";
        }
      }
      const std::string tgb = code();
      tags.push_back("(" + Q(person.pnr) + ", '" + Iso(d) + "', " + von + ", " + uhr + ", " + bis +
                     ", " + end + ", " + tgb + ", " + num(0, 480) + ", " + code() + ", " +
                     num(0, 240) + ", " + code() + ", " + num(0, 240) + ")");

      // Bookings: come and go on most days, the day's message, hour
      // messages, and the awkward ones.
      if (tgb == "''" || tgb == "NULL") {
        if (Pick(7) < 5) {
          book(person.pnr, d, d, Time(7, Pick(30)), 0, "NULL");
          book(person.pnr, d, d, Time(15, Pick(60)), 0, "NULL");
        }
      } else {
        const std::string at = Chance(70) ? Time(0, 0) : Time(8, 0);
        book(person.pnr, d, d, at, 1, tgb);
        if (Chance(20)) book(person.pnr, d, d, Time(9 + Pick(8), Pick(60)), 2 + Pick(2), code());
        if (Chance(15) && book(person.pnr, d, d, at, kFktCancelled, tgb)) {
          note("cancelled twin");  // its cancellation answers 1062
        }
      }
      if (Chance(12)) {
        static const int kHour[] = {21, 22, 23, 24, 25, 29, 30, 45, 0, 2};
        for (int k = 1 + Pick(3); k > 0; --k) {
          book(person.pnr, d, d, Time(6 + Pick(12), Pick(60)), kHour[Pick(10)], code());
        }
        note("hour messages");
      }
      if (Chance(6)) {  // two functions at one time
        const std::string at = Time(8 + Pick(9), 15);
        static const int kPair[][2] = {{1, 2}, {2, 3}, {0, 21}, {1, 45}, {3, 22}};
        const int* pair = kPair[Pick(5)];
        if (book(person.pnr, d, d, at, pair[0], code()) &&
            book(person.pnr, d, d, at, pair[1], code())) {
          note("equal times");
        }
      }
      if (Chance(5)) {  // BchUhr on the day before or after BchVon
        const bool before = Chance(50);
        static const int kFkt[] = {0, 1, 2, 3, 21, 24};
        if (book(person.pnr, d, before ? d - 1 : d + 1, before ? Time(23, Pick(60)) : Time(0, 30),
                 kFkt[Pick(6)], code())) {
          note("BchUhr on another date");
        }
      }
      if (Chance(3)) {  // one time of day on two dates, one function
        const std::string at = Time(9, 0);
        if (book(person.pnr, d, d, at, 2, code()) && book(person.pnr, d, d - 1, at, 2, code())) {
          note("one time of day on two dates");
        }
      }
      if (Chance(8)) {
        static const char* kAzt[] = {"VZ40", "TZ20", "OLD", "FUT", "NONE", "vz40"};
        static const int kSta[] = {0, 0, 0, 1, 4};
        ztgs.push_back("(" + Q(person.pnr) + ", '" + Iso(d) + "', '" + kAzt[Pick(6)] + "', " +
                       std::to_string(kSta[Pick(5)]) + ")");
        m_.assignments.push_back({person.pnr, d});
      }
    }
    // Bookings before the first day record, which no period covers.
    if (len > 0) book(person.pnr, first - 3, first - 3, Time(8, 0), 1, Q("K"));
    m_.persons.push_back(person);
  }

  Insert("INSERT INTO Qel327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd, TagTgb, TagTgs,"
         " TagHtv, TagHvs, TagHtn, TagHns) VALUES", tags);
  Insert("INSERT INTO Qel320Tgb (TgbPnr, TgbDtm, TgbZtr, TgbSol) VALUES", tgbs);
  Insert("INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchBis, BchVws, BchFcd, BchZwt,"
         " BchAbt, BchKst, BchKtr, BchKrt, BchAzt, BchVra, BchTxt, BchSta, BchErf, BchTrm)"
         " VALUES", bchs);
  Insert("INSERT INTO Qel329Ztg (ZtgPnr, ZtgVon, ZtgAzt, ZtgSta) VALUES", ztgs);

  // Rules: two versions of VZ40 valid at once (the read then takes either),
  // TZ20 in two periods and an inactive third, one that ended, one to come.
  std::vector<std::string> azvs = {
      "('VZ40', '1990-01-01', NULL, 480, 240, 30, 450, 225, 15, 0)",
      "('VZ40', '" + Iso(night - 200) + "', NULL, 470, 235, 30, 440, 220, 15, 0)",
      "('TZ20', '1990-01-01', '" + Iso(night - 100) + "', 240, 120, 15, 225, 112, 8, 0)",
      "('TZ20', '" + Iso(night - 99) + "', NULL, 250, NULL, 15, 230, 115, NULL, 1)",
      "('TZ20', '" + Iso(night - 50) + "', NULL, 1, 1, 1, 1, 1, 1, 4)",
      "('OLD', '1990-01-01', '" + Iso(night - 400) + "', 100, 50, 5, 90, 45, 3, 0)",
      "('FUT', '" + Iso(night + 10) + "', NULL, 300, 150, 20, 280, 140, 10, 0)"};
  Insert("INSERT INTO Qel140Azv (AzvNum, AzvGvo, AzvGbi, AzvSol, AzvSo2, AzvVhs, AzvHso, AzvHs2,"
         " AzvHtv, AzvSta) VALUES", azvs);

  std::vector<std::string> fcds;
  for (const std::string& c : kCodes) {
    static const int kSta[] = {0, 0, 1, 3, 4, 5};
    const std::string flg = Chance(20) ? "NULL" : Chance(15) ? "''" : Q(Any(kCodes));
    fcds.push_back("(" + Q(c) + ", " + num(1, 3) + ", " + num(0, 15) + ", " + num(0, 480) +
                   ", " + num(0, 1) + ", " + num(1, 9) + ", " + num(0, 2) + ", " +
                   (Chance(30) ? "24" : num(0, 30)) + ", " + flg + ", " +
                   std::to_string(kSta[Pick(6)]) + ")");
  }
  Insert("INSERT INTO Qel131Fcd (FcdNum, FcdTyp, FcdZwt, FcdStd, FcdSol, FcdPri, FcdGpu, FcdFcd,"
         " FcdFlg, FcdSta) VALUES", fcds);
  ASSERT_EQ(Db_Commit(), 1);
}

// ---------------------------------------------------------------------------

// The driving rows of each night: the same set, now in the order of the
// person's key as the server collates it.
void Differential::CompareDriving() {
  std::map<std::string, std::size_t> rank;
  Sql_Format("SELECT DISTINCT TagPnr FROM Qel327Tag ORDER BY TagPnr");
  for (const Row& r : RunFormatted().rows) rank.emplace(r[0], rank.size());

  std::set<long> nights = {m_.night, m_.night + 1};
  std::vector<long> more(m_.placeholderDays.begin(), m_.placeholderDays.end());
  for (int i = 0; i < 8; ++i) nights.insert(Any(more));
  nights.insert(m_.night - 10000);
  for (long night : nights) {
    char day[32];
    std::snprintf(day, sizeof day, "'%s'", SqlValue<9>(Ymd(night).c_str()).c_str());
    Sql_Format(kRefTagAkt, day);
    Result ref = RunFormatted();
    ASSERT_EQ(ref.rc, 0) << Db_ErrText();
    std::vector<Row> want = Decode(ref.rows, kTagKinds);

    std::vector<Row> got;
    ASSERT_EQ(TagAkt_Open(Ymd(night).c_str()), 0) << Db_ErrText();
    const std::string sent = Sql_Last();
    int rc = 0;
    for (;;) {
      TagSatz tag = UnsetTag();
      if ((rc = TagAkt_Read(tag)) != 0) break;
      got.push_back(TagRow(tag));
    }
    EXPECT_EQ(rc, END_OF_DATA);
    (void)TagAkt_Close();
    ++probes_["TagAkt"];
    if (got.size() > 1) ++probes_["TagAkt with two rows or more"];

    for (std::size_t i = 1; i < got.size(); ++i) {
      if (rank[got[i - 1][0]] > rank[got[i][0]] && Report("TagAkt order")) {
        ADD_FAILURE() << "TagAkt of " << Ymd(night) << " not in person order at row " << i
                      << ":" << Show(got) << "\n" << sent;
      }
    }
    std::sort(want.begin(), want.end());
    std::sort(got.begin(), got.end());
    if (want != got && Report("TagAkt")) {
      ADD_FAILURE() << "TagAkt of " << Ymd(night) << ": " << FirstDifference(want, got) << "\n"
                    << sent;
    }
  }
}

// Runs the two booking counts of a day record the way the search does and
// compares them with the reference statements for the same record.
// With known bits, also the counts the history read brought with the row
// (TagAlt_CountTagMld): each it gives must be the reference's for the record.
void Differential::CompareCounts(const TagSatz& tag, const std::string& what, int known,
                                 std::int32_t tagMld) {
  std::int32_t got = kUnset;
  int rc = Bch_CountTagMld(tag, got);
  std::string sent = Sql_Last();
  Sql_Format(kRefBchCountTagMld, SqlValue(tag.TagPnr).c_str(), SqlValue(tag.TagTag).c_str());
  Result ref = RunFormatted();
  std::int32_t want = ref.rc == 0 && !ref.rows.empty() ? Num_Parse(ref.rows[0][0].c_str()) : kUnset;
  ++probes_["Bch_CountTagMld"];
  if ((rc != ref.rc || got != want) && Report("Bch_CountTagMld")) {
    ADD_FAILURE() << "Bch_CountTagMld of " << what << " " << Show(TagRow(tag)) << ": reference rc "
                  << ref.rc << " count " << want << ", now rc " << rc << " count " << got << "\n"
                  << sent;
  }
  if ((known & 1) != 0) {
    ++probes_["TagAlt_CountTagMld whole-day count"];
    if (tagMld != want && Report("TagAlt_CountTagMld")) {
      ADD_FAILURE() << "TagAlt_CountTagMld whole-day count of " << what << " " << Show(TagRow(tag))
                    << ": reference " << want << ", brought with the row " << tagMld;
    }
  }

  got = kUnset;
  rc = Bch_CountStdMld(tag, got);
  sent = Sql_Last();
  Sql_Format(kRefBchCountStdMld, SqlValue(tag.TagPnr).c_str(), SqlValue(tag.TagVon).c_str(),
             SqlValue(tag.TagUhr).c_str(), SqlValue(tag.TagBis).c_str(),
             SqlValue(tag.TagEnd).c_str());
  ref = RunFormatted();
  want = ref.rc == 0 && !ref.rows.empty() ? Num_Parse(ref.rows[0][0].c_str()) : kUnset;
  ++probes_["Bch_CountStdMld"];
  if (want > 0) ++probes_["Bch_CountStdMld above 0"];
  if ((rc != ref.rc || got != want) && Report("Bch_CountStdMld")) {
    ADD_FAILURE() << "Bch_CountStdMld of " << what << " " << Show(TagRow(tag))
                  << ": reference rc " << ref.rc << " count " << want << ", now rc " << rc
                  << " count " << got << "\n" << sent;
  }
}

// Each person's history from many days on, the page bounds among them: the
// same rows in the same order, newest first, to the end; the counts of the
// records the search would hold on the way.
void Differential::CompareHistories() {
  records_.clear();
  for (const Person& person : m_.persons) {
    std::vector<long> dates;
    const std::vector<long>& j = person.joined;
    // Dates before which exactly k rows lie, around each page bound.
    for (std::size_t k : {0, 1, 4, 5, 20, 21, 84, 85, 340, 341, 852, 853}) {
      if (k < j.size()) dates.push_back(j[k]);
      if (k == j.size() && !j.empty()) dates.push_back(j.back() + 1);
    }
    for (int i = 0; i < 2 && !person.days.empty(); ++i) {
      dates.push_back(Any(person.days));
    }
    dates.push_back(m_.night + 400);  // the whole history, and the counts on the way
    std::vector<std::string> asked;
    for (long d : dates) asked.push_back(Ymd(d));
    // Dates that are not eight digits leave the comparison as it always was.
    if (person.days.size() >= 20 && person.days.size() <= 120) {
      for (const char* odd : {"", "2024", "2024031", "202403011", "2024-03-"}) {
        asked.push_back(odd);
      }
      asked.insert(asked.end(), kNoDays.begin(), kNoDays.end());
    }

    std::vector<std::string> pnrs = {person.pnr};
    if (person.pnr == "ab12") pnrs.push_back("AB12 ");  // the collation's twin
    for (const std::string& pnr : pnrs) {
      for (const std::string& date : asked) {
        const bool whole = date == Ymd(m_.night + 400) && pnr == person.pnr;
        Sql_Format(kRefTagAlt, SqlValue<9>(pnr.c_str()).c_str(), SqlValue<9>(date.c_str()).c_str());
        Result ref = RunFormatted();
        ASSERT_EQ(ref.rc, 0) << Db_ErrText();
        const std::vector<Row> want = Decode(ref.rows, kTagKinds);

        std::vector<Row> got;
        ASSERT_EQ(TagAlt_Open(pnr.c_str(), date.c_str()), 0) << Db_ErrText();
        TagSatz held{};
        int rc = 0;
        for (;;) {
          TagSatz fresh = UnsetTag();
          if ((rc = TagAlt_Read(fresh)) != 0) break;
          got.push_back(TagRow(fresh));
          Carry(held, fresh);
          // The counts run between the reads, as in the search, on a share
          // of the rows: their statements must not disturb the pages.
          if (whole && (got.size() <= 8 || Chance(3))) {
            std::int32_t tagMld = kUnset;
            const int known = TagAlt_CountTagMld(tagMld) == 0 ? 1 : 0;
            CompareCounts(held, "history row " + std::to_string(got.size()), known, tagMld);
            if (Chance(30)) records_.push_back(held);
          }
        }
        ++probes_["TagAlt"];
        if (got.size() > 340) ++probes_["TagAlt past four pages"];
        EXPECT_EQ(rc, END_OF_DATA) << pnr << " " << date;
        TagSatz after{};
        EXPECT_EQ(TagAlt_Read(after), END_OF_DATA) << "a read after the end, " << pnr << " "
                                                   << date;
        (void)TagAlt_Close();
        if (want != got && Report("TagAlt")) {
          ADD_FAILURE() << "TagAlt of " << pnr << " before '" << date << "'" << NoDay(date)
                        << ": " << FirstDifference(want, got) << "\nlast statement: "
                        << Sql_Last();
        }
      }
    }
  }
}

// The day-message reads and the hour-message read of many days, the
// awkward ones among them.
void Differential::CompareBookingReads() {
  bookings_.clear();
  std::vector<std::pair<std::string, std::string>> days;
  for (const auto& kind : m_.made) {
    for (int i = 0; i < 4; ++i) {
      const auto& e = Any(kind.second);
      days.push_back({e.first, Ymd(e.second)});
    }
  }
  days.push_back({kPnrs[0], Ymd(m_.night)});
  for (int i = 0; i < 12; ++i) {
    const Booking& b = Any(m_.bookings);
    days.push_back({b.pnr, Ymd(b.von)});
  }
  days.push_back({"ab12", Ymd(m_.night)});
  days.push_back({"AB12", Ymd(m_.night)});
  days.push_back({"nobody", Ymd(m_.night)});
  days.push_back({kPnrs[0], ""});
  days.push_back({kPnrs[0], "2024"});
  for (const std::string& no : kNoDays) days.push_back({kPnrs[0], no});

  using Open = int (*)(const char*, const char*);
  using Read = int (*)(BchSatz&);
  using Close = int (*)();
  struct Kind {
    const char* name;
    int ref;
    Open open;
    Read read;
    Close close;
  };
  const Kind kinds[] = {
      {"BchVortag", 0, BchVortag_Open, BchVortag_Read, BchVortag_Close},
      {"BchAbrTag", 1, BchAbrTag_Open, BchAbrTag_Read, BchAbrTag_Close},
      {"BchStdMld", 2, BchStdMld_Open, BchStdMld_Read, BchStdMld_Close}};

  for (const auto& day : days) {
    const char* pnr = day.first.c_str();
    const char* date = day.second.c_str();
    for (const Kind& k : kinds) {
      const SqlValue<9> p(pnr), d(date);
      if (k.ref == 0) Sql_Format(kRefBchVortag, p.c_str(), d.c_str());
      if (k.ref == 1) Sql_Format(kRefBchAbrTag, p.c_str(), d.c_str());
      if (k.ref == 2) Sql_Format(kRefBchStdMld, p.c_str(), d.c_str());
      Result ref = RunFormatted();
      ASSERT_EQ(ref.rc, 0) << Db_ErrText();
      std::vector<Row> want = Decode(ref.rows, kBchKinds);

      ASSERT_EQ(k.open(pnr, date), 0) << Db_ErrText();
      const std::string sent = Sql_Last();
      std::vector<Row> got;
      int rc = 0;
      for (;;) {
        BchSatz bch = UnsetBch();
        if ((rc = k.read(bch)) != 0) break;
        got.push_back(BchRow(bch));
        BchSatz plain{};
        plain.BchPnr.assign(bch.BchPnr.c_str());
        plain.BchVon.assign(bch.BchVon.c_str());
        plain.BchUhr.assign(bch.BchUhr.c_str());
        plain.BchFkt = bch.BchFkt;
        if (Chance(25)) bookings_.push_back(plain);
      }
      EXPECT_EQ(rc, END_OF_DATA);
      (void)k.close();
      ++probes_[k.name];
      if (got.size() > 1) ++probes_[std::string(k.name) + " with two rows or more"];
      const std::string where = std::string(k.name) + " of " + pnr + " on '" + date + "': ";

      if (k.read == BchStdMld_Read) {
        // Newest first by date and time; rows of one date and time may come
        // in any order, as they always could.
        auto keys = [](const std::vector<Row>& rows) {
          std::vector<std::string> out;
          for (const Row& r : rows) out.push_back(r[1] + r[2]);
          return out;
        };
        auto grouped = [](std::vector<Row> rows) {
          std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
            return a[1] + a[2] > b[1] + b[2] || (a[1] + a[2] == b[1] + b[2] && a < b);
          });
          return rows;
        };
        if ((keys(want) != keys(got) || grouped(want) != grouped(got)) && Report(k.name)) {
          ADD_FAILURE() << where << FirstDifference(grouped(want), grouped(got))
                        << "\nreference order:" << Show(want) << "\nnow:" << Show(got) << "\n"
                        << sent;
        }
        continue;
      }
      // The reference had no order; now by time of day, then function.
      for (std::size_t i = 1; i < got.size(); ++i) {
        const auto key = [](const Row& r) {
          return std::make_pair(r[2], Num_Parse(r[3].c_str()));
        };
        if (key(got[i]) < key(got[i - 1]) && Report(std::string(k.name) + " order")) {
          ADD_FAILURE() << where << "not by time of day (as the row gives it) and function at"
                        << " row " << i << ":" << Show(got) << "\n" << sent;
        }
      }
      std::sort(want.begin(), want.end());
      std::sort(got.begin(), got.end());
      if (want != got && Report(k.name)) {
        ADD_FAILURE() << where << FirstDifference(want, got) << "\n" << sent;
      }
    }
    TagSatz tag{};
    tag.TagPnr.assign(pnr);
    tag.TagTag.assign(date);
    CompareCounts(tag, "a day without its period");
  }

  // The hour-message count of records whose period the batch holds only in
  // part: empty or cut fields leave the old comparison deciding.
  using Change = std::function<void(TagSatz&)>;
  std::vector<std::pair<std::string, Change>> variants = {
      {"a whole record", [](TagSatz&) {}},
      {"no start time", [](TagSatz& v) { v.TagUhr.assign(""); }},
      {"no end time", [](TagSatz& v) { v.TagEnd.assign(""); }},
      {"no start date", [](TagSatz& v) { v.TagVon.assign(""); }},
      {"a cut end date", [](TagSatz& v) { v.TagBis.assign(v.TagBis.c_str(), 6); }},
      {"an end hour alone", [](TagSatz& v) { v.TagEnd.assign("23"); }},
      {"an empty record", [](TagSatz& v) { v = TagSatz{}; }}};
  for (const std::string& no : kNoDays) {
    variants.push_back({"an end date that names no day", [no](TagSatz& v) {
                          v.TagBis.assign(no.c_str());
                        }});
    variants.push_back({"a start date that names no day", [no](TagSatz& v) {
                          v.TagVon.assign(no.c_str());
                        }});
  }
  for (std::size_t i = 0; i < records_.size() && i < 6; ++i) {
    for (const auto& variant : variants) {
      TagSatz v = records_[i];
      variant.second(v);
      CompareCounts(v, variant.first);
    }
  }
}

// The changes: each run on the committed data, its table's state taken and
// rolled back; the state and the answer must be the reference's.
void Differential::CompareChanges() {
  auto state = [](const char* digest) {
    Sql_Format("%s", digest);
    Result r = RunFormatted();
    return r.rows.empty() ? std::string("?") : Show(r.rows[0]);
  };
  struct Outcome {
    int rc;
    std::uint64_t affected;
    std::string state;
    std::string sent;
  };
  auto attempt = [&](const std::function<int()>& send, const char* digest) {
    Outcome o;
    o.rc = send();
    o.affected = Db_AffectedRows();
    o.sent = Sql_Last();
    o.state = state(digest);
    (void)Db_Rollback();  // 1: the next attempt starts from the committed rows
    return o;
  };
  const std::string before[2] = {state(kTagDigest), state(kBchDigest)};
  int changed = 0;
  // The updates answer whether a row changed; the delete answers the server's rc.
  auto updateRc = [](const Outcome& ref) {
    return ref.rc != 0 ? ref.rc : ref.affected == 0 ? DB_NO_ROW_CHANGED : 0;
  };
  auto check = [&](const std::string& family, const std::string& what, int want,
                   const Outcome& ref, const Outcome& now) {
    ++probes_[family];
    changed += ref.affected != 0 ? 1 : 0;
    if ((now.rc != want || now.state != ref.state) && Report(family)) {
      ADD_FAILURE() << family << " of " << what << ": reference rc " << want << " state "
                    << ref.state << ", now rc " << now.rc << " state " << now.state << "\n"
                    << ref.sent << "\n" << now.sent;
    }
  };

  // Day records: new slot values, the same values, another person's
  // spelling, a day that is not there.
  std::vector<TagSatz> tags;
  for (int i = 0; i < 12 && !records_.empty(); ++i) {
    tags.push_back(Any(records_));
  }
  if (!records_.empty()) {
    TagSatz t = records_[0];
    t.TagTag.assign(Ymd(m_.night - 20000).c_str());
    tags.push_back(t);
    t.TagTag.assign(Any(kNoDays).c_str());
    tags.push_back(t);
  }
  for (std::size_t i = 0; i < tags.size(); ++i) {
    TagSatz t = tags[i];
    if (i % 3 != 2) {
      t.TagTgb.assign(Any(kCodes).c_str());
      t.TagTgs = Pick(500);
      t.TagHtv.assign("X'");
      t.TagHns = i % 2 == 0 ? t.TagHns : 7;
    }
    if (std::string(t.TagPnr.c_str()) == "ab12") t.TagPnr.assign("AB12");
    Outcome ref = attempt(
        [&] {
          Sql_Format(kRefTagUpdate, SqlValue(t.TagTgb).c_str(), static_cast<long>(t.TagTgs),
                     SqlValue(t.TagHtv).c_str(), static_cast<long>(t.TagHvs),
                     SqlValue(t.TagHtn).c_str(), static_cast<long>(t.TagHns),
                     SqlValue(t.TagPnr).c_str(), SqlValue(t.TagTag).c_str());
          return Db_Exec();
        },
        kTagDigest);
    Outcome now = attempt([&] { return Tag_Update(t); }, kTagDigest);
    check("Tag_Update", Show(TagRow(t)), updateRc(ref), ref, now);
  }

  // Bookings as the reads handed them out, cancelled and deleted; the
  // cancelled twins answer 1062 to both.
  std::vector<BchSatz> bchs;
  for (int i = 0; i < 16 && !bookings_.empty(); ++i) {
    bchs.push_back(Any(bookings_));
  }
  std::vector<const Booking*> elsewhere;
  for (const Booking& b : m_.bookings) {
    if (b.uhrDay != b.von) elsewhere.push_back(&b);
  }
  for (int i = 0; i < 6 && !elsewhere.empty(); ++i) {
    const Booking& b = *Any(elsewhere);
    BchSatz s{};
    s.BchPnr.assign(b.pnr.c_str());
    s.BchVon.assign(Ymd(b.von).c_str());
    s.BchUhr.assign(b.time.c_str());
    s.BchFkt = b.fkt;
    bchs.push_back(s);
  }
  if (!bchs.empty()) {
    BchSatz s = bchs[0];
    s.BchVon.assign(Any(kNoDays).c_str());
    bchs.push_back(s);
  }
  for (const BchSatz& b : bchs) {
    Outcome ref = attempt(
        [&] {
          Sql_Format(kRefBchUpdate, static_cast<long>(kFktCancelled), SqlValue(b.BchPnr).c_str(),
                     SqlValue(b.BchVon).c_str(), SqlValue(b.BchUhr).c_str(),
                     static_cast<long>(b.BchFkt));
          return Db_Exec();
        },
        kBchDigest);
    Outcome now = attempt([&] { return Bch_Update(b, kFktCancelled); }, kBchDigest);
    if (ref.rc == DB_DUPLICATE) ++probes_["Bch_Update refused as duplicate"];
    check("Bch_Update", Show(BchRow(b)), updateRc(ref), ref, now);
    // The cancellation deletes its own function and a cancelled booking.
    for (std::int32_t fkt : {b.BchFkt, kFktCancelled}) {
      ref = attempt(
          [&] {
            Sql_Format(kRefBchDelete, SqlValue(b.BchPnr).c_str(), SqlValue(b.BchVon).c_str(),
                       SqlValue(b.BchUhr).c_str(), static_cast<long>(fkt));
            return Db_Exec();
          },
          kBchDigest);
      now = attempt([&] { return Bch_Delete(b, fkt); }, kBchDigest);
      check("Bch_Delete", Show(BchRow(b)) + " function " + std::to_string(fkt), ref.rc, ref,
            now);
    }
  }
  EXPECT_GT(changed, 10) << "the changes should mostly find their rows";
  EXPECT_EQ(state(kTagDigest), before[0]) << "every change was rolled back";
  EXPECT_EQ(state(kBchDigest), before[1]);
}

// The working-time rule of each assignment and of days without one. Where
// two rule versions are valid at once the reference's first row was the
// server's choice; the answer must then be one of its rows.
void Differential::CompareRules() {
  std::vector<std::pair<std::string, long>> asks;
  for (int i = 0; i < 30; ++i) {
    asks.push_back(Any(m_.assignments));
  }
  for (int i = 0; i < 10; ++i) {
    const Person& p = Any(m_.persons);
    if (!p.days.empty()) asks.push_back({p.pnr, Any(p.days)});
  }
  for (const auto& ask : asks) {
    std::string pnr = ask.first == "ab12" && Chance(50) ? "AB12" : ask.first;
    const std::string date = Ymd(ask.second);
    Sql_Format(kRefAzvRead, SqlValue<9>(pnr.c_str()).c_str(), SqlValue<9>(date.c_str()).c_str());
    Result ref = RunFormatted();
    const std::vector<Row> want = Decode(ref.rows, kAzvKinds);
    const int wantRc = ref.rc != 0 ? ref.rc : want.empty() ? END_OF_DATA : 0;

    AzvSatz azv{};
    Unset(azv.AzvNum);
    azv.AzvSol = azv.AzvSo2 = azv.AzvVhs = azv.AzvHso = azv.AzvHs2 = azv.AzvHtv = kUnset;
    const int rc = Azv_Read(pnr.c_str(), date.c_str(), azv);
    const Row got = {Col(azv.AzvNum), Col(azv.AzvSol), Col(azv.AzvSo2), Col(azv.AzvVhs),
                     Col(azv.AzvHso), Col(azv.AzvHs2), Col(azv.AzvHtv)};
    ++probes_["Azv_Read"];
    if (want.size() > 1) ++probes_["Azv_Read with two valid versions"];
    const bool ok = rc == wantRc &&
                    (rc != 0 || std::find(want.begin(), want.end(), got) != want.end());
    if (!ok && Report("Azv_Read")) {
      ADD_FAILURE() << "Azv_Read of " << pnr << " on " << date << ": reference rc " << wantRc
                    << Show(want) << "\nnow rc " << rc << " " << Show(got) << "\n" << Sql_Last();
    }
  }
}

// Message types asked in a random order, each code many times, the two
// questions mixed: every answer the reference's, from the server or from
// what the session keeps.
void Differential::CompareTypes() {
  std::vector<std::string> codes = kCodes;
  codes.insert(codes.end(), kAskedCodes.begin(), kAskedCodes.end());
  for (int i = 0; i < 80; ++i) {
    const std::string& code = Any(codes);
    if (Chance(50)) {
      FixText<4> flg;
      flg.assign(kUnsetText);
      const int rc = Fcd_ReadFlg(code.c_str(), flg);
      Sql_Format(kRefFcdReadFlg, SqlValue<6>(code.c_str()).c_str());
      Result ref = RunFormatted();
      const int wantRc = ref.rc != 0 ? ref.rc : ref.rows.empty() ? END_OF_DATA : 0;
      const std::string want = ref.rows.empty() ? std::string(kNull) : ref.rows[0][0];
      const std::string got = wantRc == 0 ? Col(flg) : kNull;
      ++probes_["Fcd_ReadFlg"];
      if ((rc != wantRc || (rc == 0 && got != want) || (rc != 0 && !(flg == kUnsetText))) &&
          Report("Fcd_ReadFlg")) {
        ADD_FAILURE() << "Fcd_ReadFlg of '" << code << "': reference rc " << wantRc << " "
                      << want << ", now rc " << rc << " " << Col(flg);
      }
    } else {
      FcdSatz fcd{};
      fcd.FcdNum.assign(code.c_str());
      fcd.FcdTyp = fcd.FcdZwt = fcd.FcdStd = fcd.FcdSol = fcd.FcdPri = fcd.FcdGpu = fcd.FcdFcd =
          kUnset;
      Unset(fcd.FcdFlg);
      Sql_Format(kRefFcdRead, SqlValue(fcd.FcdNum).c_str());
      Result ref = RunFormatted();
      const int wantRc = ref.rc != 0 ? ref.rc : ref.rows.empty() ? END_OF_DATA : 0;
      const int rc = Fcd_Read(fcd);
      const Row got = {Col(fcd.FcdNum), Col(fcd.FcdTyp), Col(fcd.FcdZwt), Col(fcd.FcdStd),
                       Col(fcd.FcdSol), Col(fcd.FcdPri), Col(fcd.FcdGpu), Col(fcd.FcdFcd),
                       Col(fcd.FcdFlg)};
      const Row want = ref.rows.empty() ? got : Decode(ref.rows[0], kFcdKinds);
      ++probes_["Fcd_Read"];
      if ((rc != wantRc || got != want) && Report("Fcd_Read")) {
        ADD_FAILURE() << "Fcd_Read of '" << code << "': reference rc " << wantRc << " "
                      << Show(want) << ", now rc " << rc << " " << Show(got);
      }
    }
  }
}

TEST_F(Differential, EveryStatementAnswersAsTheOneItReplaced) {
  // Nights after a leap day, a year end, a plain February and a century's
  // leap day; the longest histories cross several of each.
  const long nights[] = {DayNumber(2024, 3, 1), DayNumber(2025, 1, 1), DayNumber(2023, 3, 1),
                         DayNumber(2000, 3, 1)};
  const unsigned seeds[] = {7, 1009, 4242, 90001};
  for (std::size_t s = 0; s < 4; ++s) {
    SCOPED_TRACE("seed " + std::to_string(seeds[s]) + ", night " + Ymd(nights[s]));
    // A new session for each data set: the message types are kept per session.
    Reconnect(kTestUser, kTestPass);
    Generate(seeds[s], nights[s]);
    if (HasFatalFailure()) return;
    CompareDriving();
    CompareHistories();
    CompareBookingReads();
    CompareChanges();
    CompareRules();
    CompareTypes();
    if (HasFatalFailure()) return;
    for (const char* made :
         {"NULL TagVon", "NULL TagUhr", "NULL TagBis", "NULL TagEnd", "period from the day before",
          "TagUhr carrying another date", "day without target row",
          "day with another target number only", "hour messages", "equal times",
          "BchUhr on another date", "one time of day on two dates", "cancelled twin"}) {
      EXPECT_TRUE(m_.made.count(made) != 0) << "no " << made << " in the data";
    }
  }
  // The cases the comparison is meant to meet were met.
  for (const char* covered :
       {"TagAlt past four pages", "TagAkt with two rows or more", "Bch_CountStdMld above 0",
"BchVortag with two rows or more",
        "BchStdMld with two rows or more", "Bch_Update refused as duplicate",
        "Azv_Read with two valid versions"}) {
    EXPECT_GT(probes_[covered], 0) << covered;
  }
  std::string summary;
  for (const auto& p : probes_) summary += " " + p.first + "=" + std::to_string(p.second);
  RecordProperty("probes", summary);
}

}  // namespace
