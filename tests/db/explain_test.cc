// The plan of every statement the batch sends, against a few thousand rows:
// none may read the day, target or booking table whole. Those tables grow by
// a row per person and day, so a statement that scans one costs the night a
// pass over every year of history for every accounted day.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>

#include "db/azv.h"
#include "db/bch.h"
#include "db/db.h"
#include "db/fcd.h"
#include "db/tag.h"
#include "support/dbtest.h"

namespace {

constexpr char kPnr[] = "00000007";

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

class StatementPlans : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    // 40 persons with 120 days each; yesterday is every person's placeholder.
    Seed("INSERT INTO Qel327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd, TagTgb, TagTgs,"
         " TagHtv, TagHvs, TagHtn, TagHns)"
         " SELECT LPAD(p.seq, 8, '0'), dd, dd, TIMESTAMP(dd, IF(d.seq = 1, '12:00', '07:00')), dd,"
         " TIMESTAMP(dd, IF(d.seq = 1, '12:00', '15:30')), IF(d.seq % 10 = 2, 'K', ''), 0,"
         " '', 0, '', 0"
         " FROM seq_1_to_40 p, (SELECT seq, CURDATE() - INTERVAL seq DAY dd FROM seq_1_to_120) d");
    Seed("INSERT INTO Qel320Tgb (TgbPnr, TgbDtm, TgbZtr, TgbSol)"
         " SELECT TagPnr, TagTag, 1, 480 FROM Qel327Tag");
    Seed("INSERT INTO Qel329Ztg (ZtgPnr, ZtgVon, ZtgAzt, ZtgSta)"
         " SELECT TagPnr, TagTag, IF(TagPnr < '00000020', 'VZ40', 'TZ20'), 0 FROM Qel327Tag");
    // Come and go on most days, a sickness on every tenth.
    Seed("INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd)"
         " SELECT TagPnr, TagTag, TIMESTAMP(TagTag, IF(k.seq = 0, '07:05', '15:20')),"
         " IF(TagTgb = 'K' AND k.seq = 0, 1, 0), IF(TagTgb = 'K' AND k.seq = 0, 'K', NULL)"
         " FROM Qel327Tag, seq_0_to_1 k WHERE TagTag < CURDATE() - INTERVAL 1 DAY");
    Seed("INSERT INTO Qel131Fcd (FcdNum, FcdTyp, FcdZwt, FcdPri, FcdGpu, FcdFlg) VALUES"
         " ('K', 1, 1, 5, 0, 'KF'), ('KF', 1, 1, 5, 1, 'KF'), ('GL', 1, 0, 9, 0, NULL)");
    Seed("INSERT INTO Qel140Azv (AzvNum, AzvGvo, AzvGbi, AzvSol, AzvSo2, AzvVhs, AzvHso, AzvHs2,"
         " AzvHtv) VALUES ('VZ40', '2000-01-01', NULL, 480, 240, 30, 450, 225, 15),"
         " ('TZ20', '2000-01-01', NULL, 240, 120, 15, 225, 112, 8)");
    admin_->Exec("ANALYZE TABLE Qel327Tag, Qel320Tgb, Qel321Bch, Qel329Ztg");

    day_.TagPnr.assign(kPnr);
    day_.TagTag.assign(Day(-2).c_str());
    day_.TagVon.assign(Day(-2).c_str());
    day_.TagUhr.assign("070000");
    day_.TagBis.assign(Day(-2).c_str());
    day_.TagEnd.assign("153000");
    bch_.BchPnr.assign(kPnr);
    bch_.BchVon.assign(Day(-2).c_str());
    bch_.BchUhr.assign("070500");
    bch_.BchFkt = 1;
  }

  // Explains the statement the last call left in Sql_Last() and names the
  // watched tables its plan reads whole; "" when it reads none so.
  std::string WholeTableReads() {
    const std::string statement = Sql_Last();
    Rows plan = SessionQuery("EXPLAIN " + statement);
    EXPECT_FALSE(plan.empty()) << statement;
    std::string whole;
    for (const auto& row : plan) {
      if (row.size() < 4 || row[3] != "ALL") continue;
      const std::string table = Lower(row[2]);
      if (table == "qel327tag" || table == "qel320tgb" || table == "qel321bch") {
        whole += table + " ";
      }
    }
    return whole;
  }

  TagSatz day_{};
  BchSatz bch_{};
};

TEST_F(StatementPlans, DayRecordStatementsUseIndexes) {
  ASSERT_EQ(TagAkt_Open(), 0);
  EXPECT_EQ(WholeTableReads(), "") << Sql_Last();
  (void)TagAkt_Close();

  ASSERT_EQ(TagAlt_Open(kPnr, Yesterday().c_str()), 0);
  EXPECT_EQ(WholeTableReads(), "") << Sql_Last();
  (void)TagAlt_Close();

  (void)Tag_Update(day_);  // changed or not, the text is what is explained
  EXPECT_EQ(WholeTableReads(), "") << Sql_Last();
}

TEST_F(StatementPlans, BookingReadsUseIndexes) {
  ASSERT_EQ(BchVortag_Open(kPnr, Day(-2).c_str()), 0);
  EXPECT_EQ(WholeTableReads(), "") << Sql_Last();
  (void)BchVortag_Close();

  ASSERT_EQ(BchAbrTag_Open(kPnr, Yesterday().c_str()), 0);
  EXPECT_EQ(WholeTableReads(), "") << Sql_Last();
  (void)BchAbrTag_Close();

  ASSERT_EQ(BchStdMld_Open(kPnr, Day(-2).c_str()), 0);
  EXPECT_EQ(WholeTableReads(), "") << Sql_Last();
  (void)BchStdMld_Close();

  std::int32_t count = 0;
  ASSERT_EQ(Bch_CountTagMld(day_, count), 0);
  EXPECT_EQ(WholeTableReads(), "") << Sql_Last();
  ASSERT_EQ(Bch_CountStdMld(day_, count), 0);
  EXPECT_EQ(WholeTableReads(), "") << Sql_Last();
}

// The insert of a follow-up reads nothing; the cancellation's update and
// delete look their booking up and so are explained.
TEST_F(StatementPlans, BookingChangesUseIndexes) {
  (void)Bch_Update(bch_, kFktCancelled);
  EXPECT_EQ(WholeTableReads(), "") << Sql_Last();
  ASSERT_EQ(Bch_Delete(bch_, kFktCancelled), 0);
  EXPECT_EQ(WholeTableReads(), "") << Sql_Last();
}

// These read neither of the watched tables; explaining them proves that
// every statement the run sends has a plan the server accepts.
TEST_F(StatementPlans, TypeAndRuleReadsHavePlans) {
  FixText<4> flg;
  ASSERT_EQ(Fcd_ReadFlg("K", flg), 0);
  EXPECT_EQ(WholeTableReads(), "") << Sql_Last();
  FcdSatz fcd{};
  fcd.FcdNum.assign("KF");
  ASSERT_EQ(Fcd_Read(fcd), 0);
  EXPECT_EQ(WholeTableReads(), "") << Sql_Last();
  AzvSatz azv{};
  ASSERT_EQ(Azv_Read(kPnr, Yesterday().c_str(), azv), 0);
  EXPECT_EQ(WholeTableReads(), "") << Sql_Last();
}

}  // namespace
