#include <gtest/gtest.h>

#include <set>
#include <string>

#include "db/db.h"
#include "db/tag.h"
#include "support/dbtest.h"

namespace {

// A day record with its target row; period on the day itself.
std::string DayRow(const std::string& pnr, const std::string& day, const std::string& von,
                   const std::string& uhr, const std::string& bis, const std::string& end,
                   int ztr = 1) {
  return "INSERT INTO Qel327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd, TagTgb, TagTgs,"
         " TagHtv, TagHvs, TagHtn, TagHns) VALUES ('" + pnr + "', " + day + ", " + von + ", " +
         uhr + ", " + bis + ", " + end + ", '', 0, '', 0, '', 0);"
         "INSERT INTO Qel320Tgb (TgbPnr, TgbDtm, TgbZtr, TgbSol) VALUES ('" + pnr + "', " + day +
         ", " + std::to_string(ztr) + ", 480)";
}

std::string Placeholder(const std::string& pnr, const std::string& day, int ztr = 1) {
  return DayRow(pnr, day, day, "TIMESTAMP(" + day + ", '12:00:00')", day,
                "TIMESTAMP(" + day + ", '12:00:00')", ztr);
}

std::set<std::string> DrivingPersons() {
  std::set<std::string> pnrs;
  EXPECT_EQ(TagAkt_Open(), 0);
  TagSatz tag{};
  int rc;
  while ((rc = TagAkt_Read(tag)) == 0) {
    pnrs.insert(tag.TagPnr.c_str());
    tag = TagSatz{};
  }
  EXPECT_EQ(rc, END_OF_DATA);
  EXPECT_EQ(TagAkt_Close(), 0);
  return pnrs;
}

class DayRecords : public DbTest {
 protected:
  void SeedMany(const std::string& sql) {
    size_t start = 0;
    while (start < sql.size()) {
      size_t end = sql.find(';', start);
      if (end == std::string::npos) end = sql.size();
      Seed(sql.substr(start, end - start));
      start = end + 1;
    }
  }
};

TEST_F(DayRecords, DrivingStatementTakesOnlyYesterdaysNoonPlaceholders) {
  const std::string y = "CURDATE() - INTERVAL 1 DAY";
  SeedMany(Placeholder("P1", y));
  SeedMany(Placeholder("P2", "CURDATE() - INTERVAL 2 DAY"));                 // not yesterday
  SeedMany(Placeholder("P3", y, 2));                                          // no TgbZtr 1
  SeedMany(DayRow("P4", y, y, "TIMESTAMP(" + y + ", '12:00:00')", "CURDATE()",  // two dates
                  "TIMESTAMP(CURDATE(), '12:00:00')"));
  SeedMany(DayRow("P5", y, y, "TIMESTAMP(" + y + ", '08:00:00')", y,           // a real period
                  "TIMESTAMP(" + y + ", '16:00:00')"));
  SeedMany(DayRow("P6", y, y, "TIMESTAMP(" + y + ", '08:00:00')", y,           // no length, not noon
                  "TIMESTAMP(" + y + ", '08:00:00')"));
  Seed("INSERT INTO Qel327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd) VALUES"
       " ('P7', CURDATE() - INTERVAL 1 DAY, CURDATE() - INTERVAL 1 DAY,"
       " TIMESTAMP(CURDATE() - INTERVAL 1 DAY, '12:00:00'), CURDATE() - INTERVAL 1 DAY,"
       " TIMESTAMP(CURDATE() - INTERVAL 1 DAY, '12:00:00'))");                // no target row
  EXPECT_EQ(DrivingPersons(), (std::set<std::string>{"P1"}));
}

TEST_F(DayRecords, DrivingRowFillsEveryFieldAndNullsStayEmpty) {
  Seed("INSERT INTO Qel327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd, TagTgb, TagTgs)"
       " VALUES ('12345678', CURDATE() - INTERVAL 1 DAY, CURDATE() - INTERVAL 1 DAY,"
       " TIMESTAMP(CURDATE() - INTERVAL 1 DAY, '12:00:00'), CURDATE() - INTERVAL 1 DAY,"
       " TIMESTAMP(CURDATE() - INTERVAL 1 DAY, '12:00:00'), 'KRK', 480)");
  Seed("INSERT INTO Qel320Tgb (TgbPnr, TgbDtm, TgbZtr, TgbSol) VALUES ('12345678',"
       " CURDATE() - INTERVAL 1 DAY, 1, 456)");
  ASSERT_EQ(TagAkt_Open(), 0);
  TagSatz tag{};
  ASSERT_EQ(TagAkt_Read(tag), 0);
  EXPECT_STREQ(tag.TagPnr.c_str(), "12345678");
  EXPECT_EQ(tag.TagTag.c_str(), Yesterday());
  EXPECT_EQ(tag.TagVon.c_str(), Yesterday());
  EXPECT_STREQ(tag.TagUhr.c_str(), "120000");
  EXPECT_STREQ(tag.TagEnd.c_str(), "120000");
  EXPECT_EQ(tag.TgbSol, 456);
  EXPECT_STREQ(tag.TagTgb.c_str(), "KRK");
  EXPECT_EQ(tag.TagTgs, 480);
  EXPECT_TRUE(tag.TagHtv.empty());  // NULL slot columns leave the cleared record alone
  EXPECT_EQ(tag.TagHvs, 0);
  EXPECT_EQ(TagAkt_Read(tag), END_OF_DATA);
  (void)TagAkt_Close();
}

// The first of a month and the turn of a year, at a fixed server date: the
// run on those days must still handle the day before.
TEST_F(DayRecords, DrivingStatementCrossesMonthAndYearEnds) {
  Seed("INSERT INTO Qel327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd) VALUES"
       " ('FEB', '2026-02-28', '2026-02-28', '2026-02-28 12:00:00', '2026-02-28',"
       " '2026-02-28 12:00:00'),"
       " ('DEC', '2026-12-31', '2026-12-31', '2026-12-31 12:00:00', '2026-12-31',"
       " '2026-12-31 12:00:00')");
  Seed("INSERT INTO Qel320Tgb (TgbPnr, TgbDtm, TgbZtr, TgbSol) VALUES"
       " ('FEB', '2026-02-28', 1, 480), ('DEC', '2026-12-31', 1, 480)");
  Reconnect(kDateUser, kDatePass);  // server date 2026-03-01
  EXPECT_EQ(Yesterday(), "20260228");
  EXPECT_EQ(DrivingPersons(), (std::set<std::string>{"FEB"}));

  admin_->Exec("SET GLOBAL init_connect = 'SET timestamp=UNIX_TIMESTAMP(''2027-01-01 06:00:00'')'");
  Reconnect(kDateUser, kDatePass);
  admin_->Exec("SET GLOBAL init_connect = 'SET timestamp=UNIX_TIMESTAMP(''2026-03-01 06:00:00'')'");
  EXPECT_EQ(Yesterday(), "20261231");
  EXPECT_EQ(DrivingPersons(), (std::set<std::string>{"DEC"}));
}

class EarlierDays : public DayRecords {
 protected:
  void SetUp() override {
    DayRecords::SetUp();
    for (int back = 1; back <= 3; ++back) {
      const std::string d = "CURDATE() - INTERVAL " + std::to_string(back) + " DAY";
      SeedMany(DayRow("P1", d, d, "TIMESTAMP(" + d + ", '08:00:00')", d,
                      "TIMESTAMP(" + d + ", '16:00:00')"));
    }
    SeedMany(DayRow("P2", "CURDATE() - INTERVAL 2 DAY", "CURDATE()", "NOW()", "CURDATE()",
                    "NOW()"));
    Seed("UPDATE Qel327Tag SET TagTgb = 'URL' WHERE TagPnr = 'P1' AND TagTag = CURDATE() - "
         "INTERVAL 2 DAY");
    Seed("UPDATE Qel327Tag SET TagTgb = NULL WHERE TagPnr = 'P1' AND TagTag = CURDATE() - "
         "INTERVAL 3 DAY");
  }
};

TEST_F(EarlierDays, NewestFirstWithoutTheDayItselfAndNullsCarryOver) {
  ASSERT_EQ(TagAlt_Open("P1", Day(-1).c_str()), 0);
  TagSatz tag{};
  ASSERT_EQ(TagAlt_Read(tag), 0);
  EXPECT_EQ(tag.TagTag.c_str(), Day(-2));
  EXPECT_STREQ(tag.TagTgb.c_str(), "URL");
  EXPECT_STREQ(tag.TagUhr.c_str(), "080000");
  EXPECT_STREQ(tag.TagEnd.c_str(), "160000");
  ASSERT_EQ(TagAlt_Read(tag), 0);
  EXPECT_EQ(tag.TagTag.c_str(), Day(-3));
  EXPECT_STREQ(tag.TagTgb.c_str(), "URL");  // NULL in the older row keeps the newer code
  EXPECT_EQ(TagAlt_Read(tag), END_OF_DATA);
  EXPECT_EQ(TagAlt_Close(), 0);
}

TEST_F(EarlierDays, PersonWithoutEarlierDaysEndsAtOnce) {
  ASSERT_EQ(TagAlt_Open("P2", Day(-2).c_str()), 0);
  TagSatz tag{};
  EXPECT_EQ(TagAlt_Read(tag), END_OF_DATA);
  (void)TagAlt_Close();
}

TEST_F(EarlierDays, UpdateAnswersWhetherARowChanged) {
  TagSatz tag{};
  tag.TagPnr.assign("P1");
  tag.TagTag.assign(Day(-1).c_str());
  EXPECT_EQ(Tag_Update(tag), -1);  // the slots already hold '' and 0
  tag.TagHtv.assign("UH2");
  tag.TagHvs = 240;
  EXPECT_EQ(Tag_Update(tag), 0);
  EXPECT_EQ(SessionQuery("SELECT TagTgb, TagHtv, TagHvs FROM Qel327Tag WHERE TagPnr = 'P1' AND"
                         " TagTag = CURDATE() - INTERVAL 1 DAY"),
            (Rows{{"", "UH2", "240"}}));
  EXPECT_EQ(Tag_Update(tag), -1);
  tag.TagPnr.assign("nobody");
  EXPECT_EQ(Tag_Update(tag), -1);
}

TEST_F(EarlierDays, WiderColumnsAreCutToTheirFields) {
  Seed("ALTER TABLE Qel327Tag MODIFY TagPnr VARCHAR(20) NOT NULL, MODIFY TagTgb VARCHAR(10)");
  Seed("ALTER TABLE Qel320Tgb MODIFY TgbPnr VARCHAR(20) NOT NULL");
  SeedMany(DayRow("1234567890AB", "CURDATE() - INTERVAL 5 DAY", "NULL", "NULL", "NULL", "NULL"));
  Seed("UPDATE Qel327Tag SET TagTgb = 'LONGCODE12' WHERE TagPnr = '1234567890AB'");
  ASSERT_EQ(TagAlt_Open("1234567890AB", Day(0).c_str()), 0);
  TagSatz tag{};
  // The cut number names another person, so nothing of this one is found.
  EXPECT_EQ(TagAlt_Read(tag), END_OF_DATA);
  (void)TagAlt_Close();
  Seed("UPDATE Qel327Tag SET TagPnr = '12345678' WHERE TagPnr = '1234567890AB'");
  Seed("UPDATE Qel320Tgb SET TgbPnr = '12345678' WHERE TgbPnr = '1234567890AB'");
  ASSERT_EQ(TagAlt_Open("12345678", Day(0).c_str()), 0);
  ASSERT_EQ(TagAlt_Read(tag), 0);
  EXPECT_STREQ(tag.TagTgb.c_str(), "LON");
  (void)TagAlt_Close();
}

}  // namespace
