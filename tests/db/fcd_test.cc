#include "db/fcd.h"

#include <gtest/gtest.h>

#include <string>

#include "db/db.h"
#include "support/dbtest.h"

namespace {

class MessageTypeRead : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    Seed("INSERT INTO Qel131Fcd (FcdNum, FcdTyp, FcdZwt, FcdStd, FcdSol, FcdPri, FcdGpu, FcdFcd,"
         " FcdFlg, FcdSta) VALUES"
         " ('K', 2, 15, 300, 1, 7, 1, 24, 'KF', 3),"
         " ('I', 1, 1, 0, 0, 5, 0, 0, 'X', 4),"
         " ('N', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, 0)");
  }
  FcdSatz Keyed(const char* code) {
    FcdSatz fcd{};
    fcd.FcdNum.assign(code);
    return fcd;
  }
};

TEST_F(MessageTypeRead, ActiveTypeGivesItsFollowUpCodeAndEveryField) {
  FixText<4> flg;
  EXPECT_EQ(Fcd_ReadFlg("K", flg), 0);
  EXPECT_STREQ(flg.c_str(), "KF");
  FcdSatz fcd = Keyed("K");
  ASSERT_EQ(Fcd_Read(fcd), 0);
  EXPECT_EQ(fcd.FcdTyp, 2);
  EXPECT_EQ(fcd.FcdZwt, 15);
  EXPECT_EQ(fcd.FcdStd, 300);
  EXPECT_EQ(fcd.FcdSol, 1);
  EXPECT_EQ(fcd.FcdPri, 7);
  EXPECT_EQ(fcd.FcdGpu, 1);
  EXPECT_EQ(fcd.FcdFcd, 24);
  EXPECT_STREQ(fcd.FcdFlg.c_str(), "KF");
}

TEST_F(MessageTypeRead, UnknownCodeGivesEndOfDataAndLeavesTheOutputs) {
  FixText<4> flg;
  flg.assign("Q");
  EXPECT_EQ(Fcd_ReadFlg("ZZ", flg), END_OF_DATA);
  EXPECT_STREQ(flg.c_str(), "Q");
  FcdSatz fcd = Keyed("ZZ");
  fcd.FcdPri = 11;
  EXPECT_EQ(Fcd_Read(fcd), END_OF_DATA);
  EXPECT_STREQ(fcd.FcdNum.c_str(), "ZZ");
  EXPECT_EQ(fcd.FcdPri, 11);
}

TEST_F(MessageTypeRead, InactiveTypeHasNoFollowUpCodeButIsStillRead) {
  FixText<4> flg;
  EXPECT_EQ(Fcd_ReadFlg("I", flg), END_OF_DATA);
  EXPECT_TRUE(flg.empty());
  FcdSatz fcd = Keyed("I");
  EXPECT_EQ(Fcd_Read(fcd), 0);
  EXPECT_EQ(fcd.FcdPri, 5);
  EXPECT_STREQ(fcd.FcdFlg.c_str(), "X");
}

TEST_F(MessageTypeRead, NullFollowUpCodeGivesZeroAndLeavesTheOutput) {
  FixText<4> cleared;
  EXPECT_EQ(Fcd_ReadFlg("N", cleared), 0);
  EXPECT_TRUE(cleared.empty());
  FixText<4> held;
  held.assign("Q");
  EXPECT_EQ(Fcd_ReadFlg("N", held), 0);
  EXPECT_STREQ(held.c_str(), "Q");
}

TEST_F(MessageTypeRead, NullPriorityTieRuleAndFcdReadAsZeroZeroMinusNine) {
  FcdSatz fcd = Keyed("N");
  fcd.FcdPri = fcd.FcdGpu = fcd.FcdFcd = 99;
  ASSERT_EQ(Fcd_Read(fcd), 0);
  EXPECT_EQ(fcd.FcdPri, 0);
  EXPECT_EQ(fcd.FcdGpu, 0);
  EXPECT_EQ(fcd.FcdFcd, -9);
}

TEST_F(MessageTypeRead, NullTypeAndSelectorsLeaveTheirFields) {
  FcdSatz fcd = Keyed("N");
  fcd.FcdTyp = 3;
  fcd.FcdZwt = 14;
  fcd.FcdFlg.assign("Q");
  ASSERT_EQ(Fcd_Read(fcd), 0);
  EXPECT_EQ(fcd.FcdTyp, 3);
  EXPECT_EQ(fcd.FcdZwt, 14);
  EXPECT_STREQ(fcd.FcdFlg.c_str(), "Q");
}

}  // namespace
