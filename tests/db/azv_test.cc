#include "db/azv.h"

#include <gtest/gtest.h>

#include <string>

#include "db/db.h"
#include "support/dbtest.h"

namespace {

constexpr char kPnr[] = "00004711";

class WorkingTimeRuleRead : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    day_ = Day(-1);
  }
  void Assign(const std::string& von, const std::string& azt, int sta = 0) {
    Seed("INSERT INTO Qel329Ztg (ZtgPnr, ZtgVon, ZtgAzt, ZtgSta) VALUES ('" +
         std::string(kPnr) + "', '" + von + "', '" + azt + "', " + std::to_string(sta) + ")");
  }
  // A rule valid from gvo to gbi ("NULL" for no end) with values 481, 402, 80, 300, 250, 30.
  void Rule(const std::string& num, const std::string& gvo, const std::string& gbi,
            int sta = 0) {
    Seed("INSERT INTO Qel140Azv (AzvNum, AzvGvo, AzvGbi, AzvSol, AzvSo2, AzvVhs, AzvHso,"
         " AzvHs2, AzvHtv, AzvSta) VALUES ('" + num + "', '" + gvo + "', " +
         (gbi == "NULL" ? gbi : "'" + gbi + "'") + ", 481, 402, 80, 300, 250, 30, " +
         std::to_string(sta) + ")");
  }
  // Answers END_OF_DATA and leaves the record alone, or fails the test.
  void ExpectNoRule(const std::string& date) {
    AzvSatz azv{};
    azv.AzvSol = 7;
    EXPECT_EQ(Azv_Read(kPnr, date.c_str(), azv), END_OF_DATA);
    EXPECT_EQ(azv.AzvSol, 7);
    EXPECT_TRUE(azv.AzvNum.empty());
  }
  std::string day_;
};

TEST_F(WorkingTimeRuleRead, AssignmentStartingOnTheDateGivesItsRuleValues) {
  Rule("R1", Day(-30), "NULL");
  Assign(day_, "R1");
  AzvSatz azv{};
  ASSERT_EQ(Azv_Read(kPnr, day_.c_str(), azv), 0);
  EXPECT_STREQ(azv.AzvNum.c_str(), "R1");
  EXPECT_EQ(azv.AzvSol, 481);
  EXPECT_EQ(azv.AzvSo2, 402);
  EXPECT_EQ(azv.AzvVhs, 80);
  EXPECT_EQ(azv.AzvHso, 300);
  EXPECT_EQ(azv.AzvHs2, 250);
  EXPECT_EQ(azv.AzvHtv, 30);
}

TEST_F(WorkingTimeRuleRead, RuleEndingOnTheDateIsStillValid) {
  Rule("R1", day_, day_);
  Assign(day_, "R1");
  AzvSatz azv{};
  EXPECT_EQ(Azv_Read(kPnr, day_.c_str(), azv), 0);
}

TEST_F(WorkingTimeRuleRead, NoAssignmentStartingOnTheDateGivesEndOfData) {
  Rule("R1", Day(-30), "NULL");
  Assign(Day(-2), "R1");
  ExpectNoRule(day_);
}

TEST_F(WorkingTimeRuleRead, ExpiredRuleGivesEndOfData) {
  Rule("R1", Day(-30), Day(-2));
  Assign(day_, "R1");
  ExpectNoRule(day_);
}

TEST_F(WorkingTimeRuleRead, RuleValidOnlyLaterGivesEndOfData) {
  Rule("R1", Day(0), "NULL");
  Assign(day_, "R1");
  ExpectNoRule(day_);
}

TEST_F(WorkingTimeRuleRead, RuleOfStatusFourGivesEndOfData) {
  Rule("R1", Day(-30), "NULL", 4);
  Assign(day_, "R1");
  ExpectNoRule(day_);
}

TEST_F(WorkingTimeRuleRead, AssignmentOfStatusFourGivesEndOfData) {
  Rule("R1", Day(-30), "NULL");
  Assign(day_, "R1", 4);
  ExpectNoRule(day_);
}

}  // namespace
