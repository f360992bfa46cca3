// What every statement the batch sends costs the server at ten years of
// history: no statement may read more rows than it hands back plus a small
// constant. The day, target and booking tables grow by a row per person and
// day, so a statement whose reads follow the history rather than its answer
// costs the night a pass over every year for every accounted day.
//
// Rows read are the session's handler counters (every index lookup and every
// step along an index or a table), taken on the program's own session around
// the call; reading them costs a fixed few reads, measured and taken off.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "db/azv.h"
#include "db/bch.h"
#include "db/db.h"
#include "db/fcd.h"
#include "db/tag.h"
#include "support/dbtest.h"

namespace {

constexpr char kPnr[] = "00000002";
constexpr int kYears = 10;

// The counters that count rows read: lookups (key, first, last), steps
// (next, prev) and reads by position or whole table (rnd, rnd_next).
constexpr const char* kReadCounters[] = {"Handler_read_first", "Handler_read_key",
                                         "Handler_read_last",  "Handler_read_next",
                                         "Handler_read_prev",  "Handler_read_rnd",
                                         "Handler_read_rnd_next"};

// Slack per statement: a lookup per key range opened (one per table joined,
// one per function of an IN list walked along BchFktIdx), the step that
// finds each range's end, and a few rows the key finds that a condition on
// DATE_FORMAT or the times then drops (the other bookings of the day).
constexpr std::int64_t kSlack = 16;
// A history row brings its target row and the two booking counts of its
// own period, which read that day's few bookings: a bound per row handed
// back that does not grow with the years behind it.
constexpr std::int64_t kPerHistoryRow = 16;

class RowsRead : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    // Three persons with ten years of days each; yesterday is the
    // placeholder of two of them, the third worked.
    const std::string days = "(SELECT seq, CURDATE() - INTERVAL seq DAY dd FROM seq_1_to_" +
                             std::to_string(kYears * 365) + ") d";
    Seed("INSERT INTO Qel327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd, TagTgb, TagTgs,"
         " TagHtv, TagHvs, TagHtn, TagHns)"
         " SELECT LPAD(p.seq, 8, '0'), dd, dd,"
         " TIMESTAMP(dd, IF(d.seq = 1 AND p.seq < 3, '12:00', '07:00')), dd,"
         " TIMESTAMP(dd, IF(d.seq = 1 AND p.seq < 3, '12:00', '15:30')),"
         " IF(d.seq % 10 = 2, 'K', ''), 0, '', 0, '', 0 FROM seq_1_to_3 p, " + days);
    Seed("INSERT INTO Qel320Tgb (TgbPnr, TgbDtm, TgbZtr, TgbSol)"
         " SELECT TagPnr, TagTag, 1, IF(DAYOFWEEK(TagTag) IN (1, 7), 0, 480) FROM Qel327Tag");
    Seed("INSERT INTO Qel329Ztg (ZtgPnr, ZtgVon, ZtgAzt, ZtgSta)"
         " SELECT TagPnr, TagTag, IF(TagPnr = '00000001', 'TZ20', 'VZ40'), 0 FROM Qel327Tag");
    // Come and go on working days, a sickness on every tenth day instead,
    // two hour messages inside the period on every seventh.
    Seed("INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd)"
         " SELECT TagPnr, TagTag, TIMESTAMP(TagTag, IF(k.seq = 0, '07:05', '15:20')), 0, NULL"
         " FROM Qel327Tag, seq_0_to_1 k WHERE TagTgb = '' AND DAYOFWEEK(TagTag) NOT IN (1, 7)"
         " AND TagTag < CURDATE() - INTERVAL 1 DAY");
    Seed("INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd)"
         " SELECT TagPnr, TagTag, TIMESTAMP(TagTag, '00:00'), 1, 'K' FROM Qel327Tag"
         " WHERE TagTgb = 'K'");
    Seed("INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd)"
         " SELECT TagPnr, TagTag, TIMESTAMP(TagTag, IF(k.seq = 0, '09:00', '11:00')), 21 + k.seq,"
         " 'H1' FROM Qel327Tag, seq_0_to_1 k WHERE DATEDIFF(CURDATE(), TagTag) % 7 = 3");
    Seed("INSERT INTO Qel131Fcd (FcdNum, FcdTyp, FcdZwt, FcdPri, FcdGpu, FcdFlg) VALUES"
         " ('K', 1, 1, 5, 0, 'KF'), ('KF', 1, 1, 5, 1, 'KF'), ('H1', 2, 1, 7, 0, NULL)");
    // Each rule in versions over the years, as rules are changed.
    Seed("INSERT INTO Qel140Azv (AzvNum, AzvGvo, AzvGbi, AzvSol, AzvSo2, AzvVhs, AzvHso, AzvHs2,"
         " AzvHtv) SELECT r.n, CURDATE() - INTERVAL (v.seq + 1) * 1000 DAY,"
         " IF(v.seq = 0, NULL, CURDATE() - INTERVAL v.seq * 1000 + 1 DAY), 480, 240, 30, 450,"
         " 225, 15 FROM (SELECT 'VZ40' n UNION SELECT 'TZ20') r, seq_0_to_3 v");
    admin_->Exec("ANALYZE TABLE Qel327Tag, Qel320Tgb, Qel321Bch, Qel329Ztg, Qel140Azv");

    sick_ = Day(-12);   // a sickness booking
    hours_ = Day(-10);  // two hour messages
    day_.TagPnr.assign(kPnr);
    day_.TagTag.assign(hours_.c_str());
    day_.TagVon.assign(hours_.c_str());
    day_.TagUhr.assign("070000");
    day_.TagBis.assign(hours_.c_str());
    day_.TagEnd.assign("153000");

    // Reading the counters costs the same few rows every time.
    const Counters a = Read(), b = Read(), c = Read();
    overhead_ = {b.rows - a.rows, b.statements - a.statements};
    ASSERT_EQ(c.rows - b.rows, overhead_.rows) << "the counters' own cost must not vary";
  }

  struct Counters {
    std::int64_t rows;        // rows read: the handler counters summed
    std::int64_t statements;  // statements the session sent (Questions)
  };
  // The session's counters, read on the program's own session: the server
  // keeps them per session.
  Counters Read() {
    std::string sql = "SHOW SESSION STATUS WHERE Variable_name IN ('Questions'";
    for (const char* name : kReadCounters) sql += std::string(", '") + name + "'";
    sql += ")";
    Counters sum{0, 0};
    Cursor cur{sql.c_str(), nullptr, 0};
    EXPECT_EQ(Cur_Open(cur), 0) << Db_ErrText();
    MYSQL_ROW row = nullptr;
    while (Cur_Read(cur, row) == 0) {
      const std::int64_t value = std::strtoll(row[1], nullptr, 10);
      (std::strcmp(row[0], "Questions") == 0 ? sum.statements : sum.rows) += value;
    }
    (void)Cur_Close(cur);
    return sum;
  }

  struct Cost {
    std::int64_t read;        // rows the server read for the call
    std::int64_t returned;    // rows the call handed back, counted or changed
    std::int64_t statements;  // statements the call sent
    std::string sent;         // the call's last statement
  };
  Cost Measure(const std::function<std::int64_t()>& call) {
    const Counters before = Read();
    Cost cost;
    cost.returned = call();
    cost.sent = Sql_Last();
    const Counters after = Read();
    cost.read = after.rows - before.rows - overhead_.rows;
    cost.statements = after.statements - before.statements - overhead_.statements;
    return cost;
  }

  // Fails, with the numbers, when the call read more than perRow rows for
  // each row it handed back plus the slack of each statement it sent.
  void ExpectBounded(const char* what, const Cost& cost, std::int64_t perRow) {
    const std::int64_t bound = perRow * cost.returned + kSlack * cost.statements;
    EXPECT_GE(cost.statements, 1) << what;
    EXPECT_LE(cost.read, bound) << what << " read " << cost.read << " rows for "
                                << cost.returned << " handed back in " << cost.statements
                                << " statement(s); bound " << perRow << " x " << cost.returned
                                << " + " << kSlack << " x " << cost.statements << " = "
                                << bound << "\nlast statement: " << cost.sent;
    RecordProperty(what, std::to_string(cost.read) + " read / " +
                             std::to_string(cost.returned) + " back");
  }

  template <typename ReadFn>
  static std::int64_t ReadAll(ReadFn read) {
    std::int64_t n = 0;
    BchSatz bch{};
    while (read(bch) == 0) ++n;
    return n;
  }

  std::string sick_;
  std::string hours_;
  TagSatz day_{};
  Counters overhead_{0, 0};
};

// Each statement on the same ten years, each measured on its own.
TEST_F(RowsRead, EveryStatementReadsAboutWhatItHandsBack) {
  // Joined to the target row: two rows read per day record handed back. The
  // other persons' day records of the date are read and dropped too (no key
  // holds the placeholder's shape): that grows with the night, not the years.
  Cost c = Measure([] {
    std::int64_t n = 0;
    EXPECT_EQ(TagAkt_Open(), 0);
    TagSatz tag{};
    while (TagAkt_Read(tag) == 0) ++n;
    (void)TagAkt_Close();
    return n;
  });
  EXPECT_EQ(c.returned, 2);
  ExpectBounded("TagAkt", c, 2);

  // The first page of the history: the search mostly ends on it.
  const std::string yesterday = Yesterday(), today = Day(0);
  c = Measure([&] {
    std::int64_t n = 0;
    EXPECT_EQ(TagAlt_Open(kPnr, yesterday.c_str()), 0);
    TagSatz tag{};
    while (n < 4 && TagAlt_Read(tag) == 0) ++n;  // a fifth read would fetch the next page
    return n;
  });
  EXPECT_EQ(c.returned, 4);
  ExpectBounded("TagAlt first page", c, kPerHistoryRow);
  (void)TagAlt_Close();

  // All ten years, page by page: each page may cost its slack.
  c = Measure([&] {
    std::int64_t n = 0;
    EXPECT_EQ(TagAlt_Open(kPnr, today.c_str()), 0);
    TagSatz tag{};
    while (TagAlt_Read(tag) == 0) ++n;
    (void)TagAlt_Close();
    return n;
  });
  EXPECT_EQ(c.returned, kYears * 365);
  ExpectBounded("TagAlt whole history", c, kPerHistoryRow);

  // The write-back finds its one row by the key.
  day_.TagTgb.assign("K");
  c = Measure([&] { return Tag_Update(day_) == 0 ? std::int64_t{1} : 0; });
  EXPECT_EQ(c.returned, 1);
  ExpectBounded("Tag_Update", c, 1);
  (void)Db_Rollback();

  // The booking reads: the day-message reads of a sick day hand back its one
  // booking of functions 1-3; the window of an hour-message day its bookings,
  // newest first.
  struct BookingRead {
    const char* name;
    int (*open)(const char*, const char*);
    int (*read)(BchSatz&);
    int (*close)();
    const std::string& day;
    std::int64_t least;
    bool exactly;
  };
  const BookingRead reads[] = {
      {"BchVortag", BchVortag_Open, BchVortag_Read, BchVortag_Close, sick_, 1, true},
      {"BchAbrTag", BchAbrTag_Open, BchAbrTag_Read, BchAbrTag_Close, sick_, 1, true},
      {"BchStdMld", BchStdMld_Open, BchStdMld_Read, BchStdMld_Close, hours_, 2, false},
  };
  for (const BookingRead& r : reads) {
    c = Measure([&] {
      EXPECT_EQ(r.open(kPnr, r.day.c_str()), 0) << r.name;
      std::int64_t n = ReadAll(r.read);
      (void)r.close();
      return n;
    });
    if (r.exactly) {
      EXPECT_EQ(c.returned, r.least) << r.name;
    } else {
      EXPECT_GE(c.returned, r.least) << r.name;
    }
    ExpectBounded(r.name, c, 1);
  }

  // A count hands back one row but reads the rows it counts.
  std::int32_t count = 0;
  TagSatz sick = day_;
  sick.TagTag.assign(sick_.c_str());
  c = Measure([&] {
    EXPECT_EQ(Bch_CountTagMld(sick, count), 0);
    return std::int64_t{count};
  });
  EXPECT_EQ(c.returned, 1);
  ExpectBounded("Bch_CountTagMld", c, 1);

  c = Measure([&] {
    EXPECT_EQ(Bch_CountStdMld(day_, count), 0);
    return std::int64_t{count};
  });
  EXPECT_GE(c.returned, 2);
  ExpectBounded("Bch_CountStdMld", c, 1);

  // The cancellation looks its booking up by person, date and function.
  BchSatz bch{};
  bch.BchPnr.assign(kPnr);
  bch.BchVon.assign(sick_.c_str());
  bch.BchUhr.assign("000000");
  bch.BchFkt = 1;
  c = Measure([&] { return Bch_Update(bch, kFktCancelled) == 0 ? std::int64_t{1} : 0; });
  EXPECT_EQ(c.returned, 1);
  ExpectBounded("Bch_Update", c, 1);
  (void)Db_Rollback();

  c = Measure([&] {
    EXPECT_EQ(Bch_Delete(bch, 1), 0);
    return static_cast<std::int64_t>(Db_AffectedRows());
  });
  EXPECT_EQ(c.returned, 1);
  ExpectBounded("Bch_Delete", c, 1);
  (void)Db_Rollback();

  // A rule is found through the person's assignment of the day, among the
  // few versions of its number.
  AzvSatz azv{};
  const std::string assigned = Day(-5);
  c = Measure([&] {
    EXPECT_EQ(Azv_Read(kPnr, assigned.c_str(), azv), 0);
    return std::int64_t{1};
  });
  EXPECT_EQ(azv.AzvSol, 480);
  ExpectBounded("Azv_Read", c, 1);

  FcdSatz fcd{};
  fcd.FcdNum.assign("KF");
  c = Measure([&] { return Fcd_Read(fcd) == 0 ? std::int64_t{1} : 0; });
  EXPECT_EQ(c.returned, 1);
  ExpectBounded("Fcd_Read", c, 1);
  FixText<4> flg;
  c = Measure([&] { return Fcd_ReadFlg("K", flg) == 0 ? std::int64_t{1} : 0; });
  EXPECT_EQ(c.returned, 1);
  ExpectBounded("Fcd_ReadFlg", c, 1);
  // A message type is read once per session: asked again, it sends nothing.
  c = Measure([&] {
    for (int i = 0; i < 3; ++i) {
      fcd = FcdSatz{};
      fcd.FcdNum.assign("KF");
      EXPECT_EQ(Fcd_Read(fcd), 0);
      EXPECT_STREQ(fcd.FcdFlg.c_str(), "KF");
      EXPECT_EQ(Fcd_ReadFlg("K", flg), 0);
      EXPECT_EQ(Fcd_ReadFlg("KF", flg), 0);  // known from Fcd_Read of the same code
    }
    return std::int64_t{0};
  });
  EXPECT_EQ(c.statements, 0) << "message types asked again were sent to the server";
  EXPECT_EQ(c.read, 0);
}

}  // namespace
