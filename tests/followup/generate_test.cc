#include "followup/generate.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "base/counts.h"
#include "base/runflags.h"
#include "support/dbtest.h"
#include "support/logcapture.h"

namespace {

constexpr char kPnr[] = "00004711";

// Points the run's log at a file of the test's own for as long as it lives.
// Yesterday's day record with all three slots taken; the person's rule on
// that day holds six distinct values, so each selector shows which it took.
class GenerateTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    day_ = Yesterday();
    Seed("INSERT INTO Qel327Tag (TagPnr, TagTag, TagTgb, TagTgs, TagHtv, TagHvs, TagHtn, TagHns)"
         " VALUES ('" + std::string(kPnr) + "', '" + day_ + "', 'U', 100, 'V', 200, 'W', 300)");
    Seed("INSERT INTO Qel140Azv (AzvNum, AzvGvo, AzvSol, AzvSo2, AzvVhs, AzvHso, AzvHs2, AzvHtv)"
         " VALUES ('R1', '" + Day(-30) + "', 481, 402, 80, 300, 250, 30)");
    Seed("INSERT INTO Qel329Ztg (ZtgPnr, ZtgVon, ZtgAzt) VALUES ('" + std::string(kPnr) +
         "', '" + day_ + "', 'R1')");
    tag_.TagPnr.assign(kPnr);
    tag_.TagTag.assign(day_.c_str());
    tag_.TgbSol = 480;
    tag_.TagTgb.assign("U");
    tag_.TagTgs = 100;
    tag_.TagHtv.assign("V");
    tag_.TagHvs = 200;
    tag_.TagHtn.assign("W");
    tag_.TagHns = 300;
    fcd_.FcdNum.assign("KF");
    fcd_.FcdTyp = 1;
    fcd_.FcdZwt = 1;
  }
  Rows Slots() {
    return SessionQuery("SELECT TagTgb, TagTgs, TagHtv, TagHvs, TagHtn, TagHns FROM Qel327Tag");
  }
  Rows Bookings() {
    return SessionQuery(
        "SELECT DATE_FORMAT(BchVon,'%Y%m%d'), DATE_FORMAT(BchUhr,'%H%i%s'), BchFkt, BchFcd"
        " FROM Qel321Bch ORDER BY BchFkt");
  }
  std::string Values() const { return "Pnr:" + std::string(kPnr) + " Tag:" + day_; }
  std::string day_;
  TagSatz tag_{};
  BchSatz bch_{};
  FcdSatz fcd_{};
};

struct CreditCase {
  int zwt;
  int typ;
  int value;
};

class GenerateCredit : public GenerateTest, public ::testing::WithParamInterface<CreditCase> {};

TEST_P(GenerateCredit, SlotOfTheTypeReceivesTheSelectedValue) {
  const CreditCase& c = GetParam();
  fcd_.FcdZwt = c.zwt;
  fcd_.FcdTyp = c.typ;
  fcd_.FcdStd = 123;
  EXPECT_EQ(Mld_Generate(tag_, bch_, fcd_), 1);
  std::vector<std::string> slots = {"U", "100", "V", "200", "W", "300"};
  slots[2 * (c.typ - 1)] = "KF";
  slots[2 * (c.typ - 1) + 1] = std::to_string(c.value);
  EXPECT_EQ(Slots(), Rows{slots});
}

// Rule: AzvSol 481, AzvSo2 402, AzvVhs 80, AzvHso 300, AzvHs2 250, AzvHtv 30; FcdStd 123.
INSTANTIATE_TEST_SUITE_P(
    ValueTable, GenerateCredit,
    ::testing::Values(CreditCase{1, 1, 481}, CreditCase{1, 2, 240}, CreditCase{1, 3, 240},
                      CreditCase{2, 2, 402}, CreditCase{3, 3, 300}, CreditCase{4, 2, 250},
                      CreditCase{14, 1, 123}, CreditCase{15, 3, 561}, CreditCase{16, 2, 330},
                      CreditCase{17, 2, 482}, CreditCase{18, 3, 280}, CreditCase{0, 1, 0},
                      CreditCase{5, 2, 0}, CreditCase{7, 1, 0}, CreditCase{13, 3, 0},
                      CreditCase{19, 1, 0}, CreditCase{-1, 2, 0}));

class GenerateFollowUp : public GenerateTest {};

TEST_F(GenerateFollowUp, BooksTheTypeAtMidnightOfTheDayAndLogsEachStepUncommitted) {
  bch_.BchVon.assign(Day(-5).c_str());
  bch_.BchUhr.assign("123456");
  bch_.BchFkt = 24;
  bch_.BchFcd.assign("S");
  LogCapture log(1);
  std::int32_t generated = MldCount.generated;
  EXPECT_EQ(Mld_Generate(tag_, bch_, fcd_), 1);
  EXPECT_EQ(MldCount.generated, generated + 1);
  EXPECT_EQ(Bookings(), (Rows{{day_, "000000", "1", "KF"}}));
  EXPECT_EQ(log.Text(), "Info: Buchung eingepflegt! RC:0 " + Values() + " Fkt:1 Fcd:KF\n" +
                            "Info: TagesSatz aktualisiert! RC:0 " + Values() + "\n");
  EXPECT_TRUE(Committed("SELECT * FROM Qel321Bch").empty());
  EXPECT_EQ(Committed("SELECT TagTgb FROM Qel327Tag"), (Rows{{"U"}}));
}

TEST_F(GenerateFollowUp, ConsoleShowsBeginAndEnd) {
  int trace = ConsoleTrace;
  ConsoleTrace = 1;
  ::testing::internal::CaptureStdout();
  (void)Mld_Generate(tag_, bch_, fcd_);
  std::string out = ::testing::internal::GetCapturedStdout();
  ConsoleTrace = trace;
  EXPECT_EQ(out, "Beginn Meldung generieren!\nEnde Meldung generieren!\n");
}

TEST_F(GenerateFollowUp, FollowUpsOfOneDayAccumulateAndTheSameSlotIsReplaced) {
  fcd_.FcdZwt = 14;
  fcd_.FcdStd = 480;
  EXPECT_EQ(Mld_Generate(tag_, bch_, fcd_), 1);
  FcdSatz half = fcd_;
  half.FcdNum.assign("KH");
  half.FcdTyp = 2;
  half.FcdStd = 240;
  EXPECT_EQ(Mld_Generate(tag_, bch_, half), 1);
  FcdSatz again = fcd_;
  again.FcdNum.assign("KG");
  again.FcdStd = 60;
  EXPECT_EQ(Mld_Generate(tag_, bch_, again), 1);
  EXPECT_EQ(Slots(), (Rows{{"KG", "60", "KH", "240", "W", "300"}}));
}

TEST_F(GenerateFollowUp, TypeOutsideOneToThreeIsBookedButFillsNoSlot) {
  fcd_.FcdTyp = 4;
  LogCapture log(1);
  EXPECT_EQ(Mld_Generate(tag_, bch_, fcd_), 1);
  EXPECT_EQ(Bookings(), (Rows{{day_, "000000", "4", "KF"}}));
  EXPECT_EQ(Slots(), (Rows{{"U", "100", "V", "200", "W", "300"}}));
  // Writing the unchanged slots changes no row, which the update reports.
  EXPECT_NE(log.Text().find("Fehler(Tag_Update): TagesSatz aktualisieren! RC:-1 " + Values() +
                            "\n"),
            std::string::npos);
}

TEST_F(GenerateFollowUp, FailedInsertStillUpdatesTheDay) {
  Seed("INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES ('" +
       std::string(kPnr) + "', '" + day_ + "', '" + day_ + "000000', 1, 'KF')");
  LogCapture log(1);
  EXPECT_EQ(Mld_Generate(tag_, bch_, fcd_), 1);
  EXPECT_NE(log.Text().find("Fehler(Bch_Insert): Buchung einpflegen! RC:1062 " + Values() +
                            " Fkt:1 Fcd:KF\n"),
            std::string::npos);
  EXPECT_EQ(Slots(), (Rows{{"KF", "481", "V", "200", "W", "300"}}));
}

class GenerateWithoutRule : public GenerateTest {
 protected:
  void SetUp() override {
    GenerateTest::SetUp();
    Seed("DELETE FROM Qel329Ztg");
  }
  std::string AzvFailure() const {
    return "Fehler(Azv_Read): Arbeitszeitvorgaben lesen RC:1032 " + Values() + "\n";
  }
};

TEST_F(GenerateWithoutRule, RuleSelectorCreditsZeroAndTheFailureIsLogged) {
  fcd_.FcdZwt = 15;
  fcd_.FcdTyp = 3;
  LogCapture log(1);
  EXPECT_EQ(Mld_Generate(tag_, bch_, fcd_), 1);
  EXPECT_EQ(Slots(), (Rows{{"U", "100", "V", "200", "KF", "0"}}));
  EXPECT_NE(log.Text().find(AzvFailure()), std::string::npos);
}

TEST_F(GenerateWithoutRule, FixedValueIsStillCreditedAndTheFailureStillLogged) {
  fcd_.FcdZwt = 14;
  fcd_.FcdStd = 300;
  LogCapture log(1);
  EXPECT_EQ(Mld_Generate(tag_, bch_, fcd_), 1);
  EXPECT_EQ(Slots(), (Rows{{"KF", "300", "V", "200", "W", "300"}}));
  EXPECT_NE(log.Text().find(AzvFailure()), std::string::npos);
}

class GenerateTargetTime : public GenerateTest {
 protected:
  void SetUp() override {
    GenerateTest::SetUp();
    fcd_.FcdSol = 1;
  }
};

TEST_F(GenerateTargetTime, DayWithoutOneRefusesAndTellsTheLogEvenWithoutDetail) {
  tag_.TgbSol = 0;
  LogCapture log(0);
  std::int32_t generated = MldCount.generated;
  EXPECT_EQ(Mld_Generate(tag_, bch_, fcd_), 0);
  EXPECT_EQ(MldCount.generated, generated);
  EXPECT_TRUE(Bookings().empty());
  EXPECT_EQ(Slots(), (Rows{{"U", "100", "V", "200", "W", "300"}}));
  EXPECT_STREQ(tag_.TagTgb.c_str(), "U");
  EXPECT_EQ(log.Text(), "Info: Folgemeldungsart mit Sollzeitpr\xFC" "fung! " + Values() +
                            " PirZol:KF\n");
}

TEST_F(GenerateTargetTime, NegativeTargetTimeCountsAsNone) {
  tag_.TgbSol = -5;
  EXPECT_EQ(Mld_Generate(tag_, bch_, fcd_), 0);
  EXPECT_TRUE(Bookings().empty());
}

TEST_F(GenerateTargetTime, DayWithOneIsServed) {
  EXPECT_EQ(Mld_Generate(tag_, bch_, fcd_), 1);
  EXPECT_EQ(Slots(), (Rows{{"KF", "481", "V", "200", "W", "300"}}));
}

TEST_F(GenerateTargetTime, TypeWithoutTheTestIsServedOnADayWithoutOne) {
  fcd_.FcdSol = 0;
  tag_.TgbSol = 0;
  EXPECT_EQ(Mld_Generate(tag_, bch_, fcd_), 1);
  EXPECT_EQ(Bookings().size(), 1u);
}

}  // namespace
