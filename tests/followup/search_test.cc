#include <gtest/gtest.h>

#include <string>

#include "followup/search.h"
#include "support/dbtest.h"

namespace {

class LastMessageDay : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    Seed("INSERT INTO Qel131Fcd (FcdNum, FcdTyp, FcdFcd, FcdFlg) VALUES"
         " ('K', 1, NULL, 'KF'),"    // sickness, carried over
         " ('KF', 1, NULL, 'KF'),"
         " ('F', 1, NULL, NULL),"    // a day message that ends the search
         " ('P', 1, 24, NULL),"      // may be passed over once
         " ('Q', 1, 24, '')");
  }
  // A day record of pnr, back days before today, period 07:00 to 15:00.
  void DayWith(int back, const std::string& tgb, const std::string& pnr = "P1") {
    const std::string d = "CURDATE() - INTERVAL " + std::to_string(back) + " DAY";
    Seed("INSERT INTO Qel327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd, TagTgb) VALUES"
         " ('" + pnr + "', " + d + ", " + d + ", TIMESTAMP(" + d + ", '07:00:00'), " + d +
         ", TIMESTAMP(" + d + ", '15:00:00'), '" + tgb + "')");
    Seed("INSERT INTO Qel320Tgb (TgbPnr, TgbDtm, TgbZtr, TgbSol) VALUES ('" + pnr + "', " + d +
         ", 1, 480)");
  }
  void Booking(int back, const std::string& time, int fkt, const std::string& fcd = "K") {
    const std::string d = "CURDATE() - INTERVAL " + std::to_string(back) + " DAY";
    Seed("INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES ('P1', " + d +
         ", TIMESTAMP(" + d + ", '" + time + "'), " + std::to_string(fkt) + ", '" + fcd + "')");
  }
  // The day found, as days before today, or 0 when none.
  int Found() {
    TagSatz last{};
    if (Mld_FindLastDay("P1", Day(-1).c_str(), last) == 0) return 0;
    for (int back = 1; back < 40; ++back) {
      if (Day(-back) == last.TagTag.c_str()) return back;
    }
    return -1;
  }
};

TEST_F(LastMessageDay, NoEarlierDayFindsNothing) { EXPECT_EQ(Found(), 0); }

TEST_F(LastMessageDay, QuietDaysArePassedUntilADayMessageWithFollowUp) {
  DayWith(2, "");
  DayWith(3, "");
  Booking(3, "10:00:00", 2);  // half-day functions count as nothing here
  DayWith(4, "K");
  Booking(4, "00:00:00", 1);
  EXPECT_EQ(Found(), 4);
}

TEST_F(LastMessageDay, DayMessagesComeBeforeHourMessages) {
  DayWith(2, "K");
  Booking(2, "00:00:00", 1);
  Booking(2, "09:00:00", 23);
  EXPECT_EQ(Found(), 2);
}

TEST_F(LastMessageDay, HourMessageInsideThePeriodFindsTheDay) {
  DayWith(2, "");
  Booking(2, "15:00:01", 24);  // just after the period: not this day's
  DayWith(3, "");
  Booking(3, "07:00:00", 23);  // exactly at its start
  EXPECT_EQ(Found(), 3);
}

TEST_F(LastMessageDay, DayMessageWithoutFollowUpEndsTheSearch) {
  DayWith(2, "F");
  Booking(2, "00:00:00", 1);
  Booking(2, "09:00:00", 23);
  DayWith(3, "K");
  Booking(3, "00:00:00", 1);
  EXPECT_EQ(Found(), 0);
}

TEST_F(LastMessageDay, DayMessageWithEmptyOrUnknownCodeEndsTheSearch) {
  DayWith(2, "");
  Booking(2, "00:00:00", 1);
  DayWith(3, "K");
  Booking(3, "00:00:00", 1);
  EXPECT_EQ(Found(), 0);
  Seed("UPDATE Qel327Tag SET TagTgb = 'ZZ' WHERE TagTag = CURDATE() - INTERVAL 2 DAY");
  EXPECT_EQ(Found(), 0);
}

TEST_F(LastMessageDay, PassOnceDayWithHourMessagesIsItselfFound) {
  DayWith(2, "P");
  Booking(2, "00:00:00", 1);
  Booking(2, "11:00:00", 0);
  DayWith(3, "K");
  Booking(3, "00:00:00", 1);
  EXPECT_EQ(Found(), 2);
}

TEST_F(LastMessageDay, PassOnceDayWithoutHourMessagesIsPassedOnce) {
  DayWith(2, "Q");  // an empty follow-up code counts as none
  Booking(2, "00:00:00", 1);
  DayWith(3, "");
  DayWith(4, "K");
  Booking(4, "00:00:00", 1);
  EXPECT_EQ(Found(), 4);
  Seed("UPDATE Qel327Tag SET TagTgb = 'F' WHERE TagTag = CURDATE() - INTERVAL 4 DAY");
  EXPECT_EQ(Found(), 0);
}

TEST_F(LastMessageDay, SecondPassOnceDayEndsTheSearch) {
  DayWith(2, "P");
  Booking(2, "00:00:00", 1);
  DayWith(3, "P");
  Booking(3, "00:00:00", 1);
  Booking(3, "10:00:00", 21);  // its hour message no longer counts
  DayWith(4, "K");
  Booking(4, "00:00:00", 1);
  EXPECT_EQ(Found(), 0);
}

TEST_F(LastMessageDay, DaysWithoutTargetRowOrOfOthersAreNotLookedAt) {
  DayWith(2, "F", "P2");
  Seed("INSERT INTO Qel327Tag (TagPnr, TagTag, TagTgb) VALUES ('P1', CURDATE() - INTERVAL 2 DAY,"
       " 'F')");
  Booking(2, "00:00:00", 1);
  DayWith(3, "K");
  Booking(3, "00:00:00", 1);
  EXPECT_EQ(Found(), 3);
}

}  // namespace
