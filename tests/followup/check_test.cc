#include "followup/check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "base/counts.h"
#include "base/runflags.h"
#include "support/dbtest.h"
#include "support/logcapture.h"

namespace {

constexpr char kPnr[] = "00004711";

// The accounted day is yesterday, with a target time; the follow-up weighed
// against its bookings has priority 5 and lets a booking of equal rank win.
// The day's bookings have no order of their own; the server hands them out
// in key order, which is by time here, so "first" means earliest.
class DayCheck : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    day_ = Yesterday();
    tag_.TagPnr.assign(kPnr);
    tag_.TagTag.assign(day_.c_str());
    tag_.TgbSol = 480;
    fu_.FcdNum.assign("KF");
    fu_.FcdPri = 5;
  }
  // A message type of priority pri; a negative pri leaves it unset.
  void Type(const std::string& num, int pri) {
    Seed("INSERT INTO Qel131Fcd (FcdNum, FcdTyp, FcdPri) VALUES ('" + num + "', 1, " +
         (pri < 0 ? std::string("NULL") : std::to_string(pri)) + ")");
  }
  // A booking of the accounted day; an empty code is stored as NULL.
  void Book(const std::string& time, int fkt, const std::string& code) {
    Seed("INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES ('" +
         std::string(kPnr) + "', '" + day_ + "', '" + day_ + time + "', " +
         std::to_string(fkt) + ", " + (code.empty() ? "NULL" : "'" + code + "'") + ")");
  }
  Rows Functions() {
    return SessionQuery(
        "SELECT DATE_FORMAT(BchUhr,'%H%i%s'), BchFkt FROM Qel321Bch ORDER BY BchUhr, BchFkt");
  }
  std::string Values() const { return "Pnr:" + std::string(kPnr) + " Tag:" + day_; }
  std::string day_;
  TagSatz tag_{};
  FcdSatz fu_{};
};

class CheckWithoutDecidingBooking : public DayCheck {};

TEST_F(CheckWithoutDecidingBooking, NoDayMessageAllowsAndLogsNothing) {
  Type("A", 9);
  Book("080000", 24, "A");
  LogCapture log(1);
  EXPECT_EQ(Mld_CheckDay(tag_, fu_), 1);
  EXPECT_EQ(log.Text(), "");
  EXPECT_EQ(Functions(), (Rows{{"080000", "24"}}));
}

TEST_F(CheckWithoutDecidingBooking, BookingWithoutCodeIsPassedOver) {
  Book("080000", 1, "");
  EXPECT_EQ(Mld_CheckDay(tag_, fu_), 1);
  EXPECT_EQ(Functions(), (Rows{{"080000", "1"}}));
}

TEST_F(CheckWithoutDecidingBooking, EqualPriorityUnderTieRuleTwoIsPassedOver) {
  Type("A", 5);
  Book("080000", 1, "A");
  fu_.FcdGpu = 2;
  EXPECT_EQ(Mld_CheckDay(tag_, fu_), 1);
  EXPECT_EQ(Functions(), (Rows{{"080000", "1"}}));
}

TEST_F(CheckWithoutDecidingBooking, UnreadableTypeIsLoggedAndTheNextBookingDecides) {
  Type("A", 7);
  Book("080000", 1, "Z");
  Book("090000", 2, "A");
  LogCapture log(1);
  EXPECT_EQ(Mld_CheckDay(tag_, fu_), 1);
  EXPECT_EQ(log.Text(), "Fehler(Read): Meldungsartsatz(Fcd) zur BchMld lesen RC:1032 Pnr:" +
                            std::string(kPnr) + " Fcd:Z\n");
  EXPECT_EQ(Functions(), (Rows{{"080000", "1"}, {"090000", "45"}}));
}

TEST_F(CheckWithoutDecidingBooking, UnreadableDayAllowsTheFollowUp) {
  Seed("DROP TABLE Qel321Bch");
  LogCapture log(1);
  EXPECT_EQ(Mld_CheckDay(tag_, fu_), 1);
  EXPECT_EQ(log.Text(),
            "Fehler(Cur_open): Buchungen(TagesMld AbrTag) lesen! RC:1146 " + Values() + "\n" +
                "Fehler(Cur_Read): Buchungen(TagesMld AbrTag) lesen RC:-1 " + Values() + "\n");
}

class CheckStrongerBooking : public DayCheck {};

TEST_F(CheckStrongerBooking, SmallerPriorityStopsTheFollowUpAndIsLogged) {
  Type("A", 3);
  Book("080000", 1, "A");
  LogCapture log(1);
  EXPECT_EQ(Mld_CheckDay(tag_, fu_), 0);
  EXPECT_EQ(log.Text(), "Info: (Fcd) in BchSatz hat h\xF6here Priorit\xE4t " + Values() +
                            " Fcd:A\n");
  EXPECT_EQ(Functions(), (Rows{{"080000", "1"}}));
}

TEST_F(CheckStrongerBooking, EqualPriorityUnderTieRuleZeroStops) {
  Type("A", 5);
  Book("080000", 3, "A");
  EXPECT_EQ(Mld_CheckDay(tag_, fu_), 0);
  EXPECT_EQ(Functions(), (Rows{{"080000", "3"}}));
}

TEST_F(CheckStrongerBooking, TypeWithoutPriorityOutranksAnyPositive) {
  Type("A", -1);
  Book("080000", 1, "A");
  fu_.FcdPri = 1;
  EXPECT_EQ(Mld_CheckDay(tag_, fu_), 0);
}

class CheckWeakerBooking : public DayCheck {};

TEST_F(CheckWeakerBooking, LargerPriorityIsCancelledUncommitted) {
  Type("A", 7);
  Book("080000", 2, "A");
  std::int32_t cancelled = MldCount.cancelled;
  EXPECT_EQ(Mld_CheckDay(tag_, fu_), 1);
  EXPECT_EQ(MldCount.cancelled, cancelled + 1);
  EXPECT_EQ(SessionQuery("SELECT BchFkt, BchErf FROM Qel321Bch"), (Rows{{"45", "Korvane"}}));
  EXPECT_EQ(Committed("SELECT BchFkt FROM Qel321Bch"), (Rows{{"2"}}));
}

TEST_F(CheckWeakerBooking, EqualPriorityUnderTieRuleOneIsCancelled) {
  Type("A", 5);
  Book("080000", 1, "A");
  fu_.FcdGpu = 1;
  EXPECT_EQ(Mld_CheckDay(tag_, fu_), 1);
  EXPECT_EQ(Functions(), (Rows{{"080000", "45"}}));
}

TEST_F(CheckWeakerBooking, OnlyTheFirstOfTwoIsCancelled) {
  Type("A", 7);
  Book("080000", 1, "A");
  Book("090000", 1, "A");
  EXPECT_EQ(Mld_CheckDay(tag_, fu_), 1);
  EXPECT_EQ(Functions(), (Rows{{"080000", "45"}, {"090000", "1"}}));
}

TEST_F(CheckWeakerBooking, StrongerBookingReadAfterItIsNotLookedAt) {
  Type("A", 7);
  Type("B", 3);
  Book("080000", 1, "A");
  Book("090000", 1, "B");
  LogCapture log(1);
  EXPECT_EQ(Mld_CheckDay(tag_, fu_), 1);
  EXPECT_EQ(Functions(), (Rows{{"080000", "45"}, {"090000", "1"}}));
  EXPECT_EQ(log.Text(), "");
}

TEST_F(CheckWeakerBooking, StaysWhenTheFollowUpNeedsATargetTimeTheDayLacks) {
  Type("A", 7);
  Book("080000", 1, "A");
  fu_.FcdSol = 1;
  tag_.TgbSol = 0;
  EXPECT_EQ(Mld_CheckDay(tag_, fu_), 1);
  EXPECT_EQ(Functions(), (Rows{{"080000", "1"}}));
}

TEST_F(CheckWeakerBooking, EarlierCancellationAtTheSameTimeIsDeletedAndTheUpdateRepeated) {
  Type("A", 7);
  Book("080000", 1, "A");
  Book("080000", 45, "A");
  LogCapture log(1);
  EXPECT_EQ(Mld_CheckDay(tag_, fu_), 1);
  EXPECT_EQ(SessionQuery("SELECT BchFkt, BchErf FROM Qel321Bch"), (Rows{{"45", "Korvane"}}));
  EXPECT_EQ(log.Text(), "Info: BchSatz(Storno) gel\xF6" "scht RC:0 " + Values() +
                            " Fcd:A Fkt:45 \n");
}

// Triggers make the server refuse what it would otherwise allow.
class CheckCancellationRefused : public DayCheck {
 protected:
  void SetUp() override {
    DayCheck::SetUp();
    Type("A", 7);
    Book("080000", 1, "A");
  }
};

TEST_F(CheckCancellationRefused, RefusedUpdateIsLoggedAsFirstAttemptAndStillAllows) {
  Seed("CREATE TRIGGER NoUpd BEFORE UPDATE ON Qel321Bch FOR EACH ROW"
       " SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'refused'");
  LogCapture log(1);
  EXPECT_EQ(Mld_CheckDay(tag_, fu_), 1);
  EXPECT_EQ(Functions(), (Rows{{"080000", "1"}}));
  EXPECT_EQ(log.Text(), "Fehler(Upd1): Akt. BchSatz(Storno) updaten RC:1644 " + Values() +
                            " Fcd:A Fkt:1\n");
}

TEST_F(CheckCancellationRefused, RefusedDeleteIsLoggedAndTheSecondAttemptStillTried) {
  Book("080000", 45, "A");
  Seed("CREATE TRIGGER NoDel BEFORE DELETE ON Qel321Bch FOR EACH ROW"
       " SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'refused'");
  LogCapture log(1);
  EXPECT_EQ(Mld_CheckDay(tag_, fu_), 1);
  EXPECT_EQ(Functions(), (Rows{{"080000", "1"}, {"080000", "45"}}));
  EXPECT_EQ(log.Text(),
            "Fehler(Del): Bchsatz(Storno) loeschen RC:1644 " + Values() + " Fcd:A Fkt:45 \n" +
                "Fehler(Upd2): Akt. BchSatz(Storno) updaten RC:1062 " + Values() +
                " Fcd:A Fkt:1\n");
}

}  // namespace
