#include "followup/hourmsg.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "followup/prevday.h"
#include "base/counts.h"
#include "base/runflags.h"
#include "support/dbtest.h"
#include "support/logcapture.h"

namespace {

constexpr char kPnr[] = "00004711";

// The last message day, five days ago, runs from 08:00 to 17:00; yesterday
// is the accounted day. Message types: S -> SF (whole day, 480, priority 5),
// N without follow-up, I inactive, U -> ZZ (no such type), P priority 1.
class HourMsgTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    last_day_ = Day(-5);
    day_ = Yesterday();
    Seed("INSERT INTO Qel327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd, TagTgb, TagTgs,"
         " TagHtv, TagHvs, TagHtn, TagHns) VALUES ('" + std::string(kPnr) + "', '" + last_day_ +
         "', '" + last_day_ + "', '" + last_day_ + "080000', '" + last_day_ + "', '" +
         last_day_ + "170000', '', 0, '', 0, '', 0), ('" + std::string(kPnr) + "', '" + day_ +
         "', NULL, NULL, NULL, NULL, '', 0, '', 0, '', 0)");
    Seed("INSERT INTO Qel131Fcd (FcdNum, FcdTyp, FcdZwt, FcdStd, FcdPri, FcdFlg, FcdSta) VALUES"
         " ('S', 1, 0, 0, 9, 'SF', 0), ('SF', 1, 14, 480, 5, NULL, 0),"
         " ('N', 1, 0, 0, 9, NULL, 0), ('I', 1, 0, 0, 9, 'SF', 4),"
         " ('U', 1, 0, 0, 9, 'ZZ', 0), ('P', 1, 0, 0, 1, NULL, 0)");
    tag_.TagPnr.assign(kPnr);
    tag_.TagTag.assign(day_.c_str());
    tag_.TgbSol = 480;
    last_.TagPnr.assign(kPnr);
    last_.TagTag.assign(last_day_.c_str());
  }
  // A booking of the last message day; an empty code is stored as NULL.
  void Book(const std::string& time, int fkt, const std::string& code) {
    BookOn(last_day_, time, fkt, code);
  }
  void BookOn(const std::string& date, const std::string& time, int fkt,
              const std::string& code) {
    Seed("INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES ('" +
         std::string(kPnr) + "', '" + date + "', '" + date + time + "', " +
         std::to_string(fkt) + ", " + (code.empty() ? "NULL" : "'" + code + "'") + ")");
  }
  std::string FollowUpsQuery() const {
    return "SELECT BchFkt, BchFcd FROM Qel321Bch WHERE BchVon = '" + day_ +
           "' ORDER BY BchFkt, BchFcd";
  }
  Rows FollowUps() { return SessionQuery(FollowUpsQuery()); }
  std::string Values(const std::string& date) const {
    return "Pnr:" + std::string(kPnr) + " Tag:" + date;
  }
  std::string last_day_;
  std::string day_;
  TagSatz tag_{};
  TagSatz last_{};
};

class HourMsgCarriesOver : public HourMsgTest {};

TEST_F(HourMsgCarriesOver, NewestFunction24IsCarriedOverWithoutCommit) {
  Book("090000", 21, "S");
  Book("100000", 24, "S");
  std::int32_t commits = MldCount.commits;
  EXPECT_EQ(Mld_HourMsg(tag_, last_), 1);
  EXPECT_EQ(MldCount.commits, commits);
  EXPECT_EQ(FollowUps(), (Rows{{"1", "SF"}}));
  EXPECT_TRUE(Committed(FollowUpsQuery()).empty());
  const std::string slot = "SELECT TagTgb, TagTgs FROM Qel327Tag WHERE TagTag = '" + day_ + "'";
  EXPECT_EQ(SessionQuery(slot), (Rows{{"SF", "480"}}));
  EXPECT_EQ(Committed(slot), (Rows{{"", "0"}}));
}

TEST_F(HourMsgCarriesOver, Function23AtTheEndOfTheWindowCounts) {
  Book("170000", 23, "S");
  Book("170001", 21, "S");
  EXPECT_EQ(Mld_HourMsg(tag_, last_), 1);
}

TEST_F(HourMsgCarriesOver, BookingAtTheStartOfTheWindowCounts) {
  Book("080000", 24, "S");
  Book("075959", 21, "S");
  EXPECT_EQ(Mld_HourMsg(tag_, last_), 1);
}

TEST_F(HourMsgCarriesOver, NewerFunctions29And45DoNotHideAnOlder24) {
  Book("090000", 24, "S");
  Book("100000", 29, "N");
  Book("110000", 45, "N");
  EXPECT_EQ(Mld_HourMsg(tag_, last_), 1);
}

TEST_F(HourMsgCarriesOver, ConsoleNamesTheCodeAndItsFollowUp) {
  Book("100000", 24, "S");
  int trace = ConsoleTrace;
  ConsoleTrace = 1;
  ::testing::internal::CaptureStdout();
  (void)Mld_HourMsg(tag_, last_);
  std::string out = ::testing::internal::GetCapturedStdout();
  ConsoleTrace = trace;
  EXPECT_EQ(out.find("Folgemeldung zu Mld S einlesen!\nMeldungsart (Satz) zu Folgemld SF lesen!\n"),
            0u);
}

class HourMsgCarriesNothing : public HourMsgTest {};

TEST_F(HourMsgCarriesNothing, NewestOfAnotherFunctionHidesAnOlder24) {
  Book("090000", 24, "S");
  for (int fkt : {21, 22, 25, 30, 0, 1}) {
    Seed("DELETE FROM Qel321Bch WHERE BchFkt <> 24");
    Book("100000", fkt, "S");
    EXPECT_EQ(Mld_HourMsg(tag_, last_), 0) << "function " << fkt;
  }
  EXPECT_TRUE(FollowUps().empty());
}

TEST_F(HourMsgCarriesNothing, OnlyFunction29OrAnEmptyWindowGivesNothingAndLogsNothing) {
  LogCapture log(1);
  EXPECT_EQ(Mld_HourMsg(tag_, last_), 0);
  Book("090000", 29, "S");
  EXPECT_EQ(Mld_HourMsg(tag_, last_), 0);
  EXPECT_EQ(log.Text(), "");
}

TEST_F(HourMsgCarriesNothing, BookingsOutsideTheWindowAreNotLookedAt) {
  Book("075959", 24, "S");
  Book("170001", 24, "S");
  EXPECT_EQ(Mld_HourMsg(tag_, last_), 0);
}

TEST_F(HourMsgCarriesNothing, TypeWithoutActiveFollowUpOrWithoutCodeGivesNothing) {
  for (const char* code : {"N", "I", "Q", ""}) {
    Seed("DELETE FROM Qel321Bch");
    Book("100000", 24, code);
    EXPECT_EQ(Mld_HourMsg(tag_, last_), 0) << "code '" << code << "'";
  }
  EXPECT_TRUE(FollowUps().empty());
}

TEST_F(HourMsgCarriesNothing, StrongerDayMessageOnTheAccountedDayStopsIt) {
  BookOn(day_, "000000", 1, "P");
  Book("100000", 24, "S");
  EXPECT_EQ(Mld_HourMsg(tag_, last_), 0);
  EXPECT_EQ(FollowUps(), (Rows{{"1", "P"}}));
}

TEST_F(HourMsgCarriesNothing, FollowUpAlreadyCarriedByTheDayMessagesIsStoppedByIt) {
  Book("090000", 1, "S");
  Book("100000", 24, "S");
  EXPECT_EQ(Mld_PrevDay(tag_, last_), 1);
  EXPECT_EQ(Mld_HourMsg(tag_, last_), 0);
  EXPECT_EQ(FollowUps(), (Rows{{"1", "SF"}}));
}

TEST_F(HourMsgCarriesNothing, UnreadableFollowUpTypeIsLogged) {
  Book("100000", 24, "U");
  LogCapture log(1);
  EXPECT_EQ(Mld_HourMsg(tag_, last_), 0);
  EXPECT_EQ(log.Text(), "Fehler(Read): Meldungsart(Fcd) zur FolgeMld lesen RC:1032 Pnr:" +
                            std::string(kPnr) + " Fcd:ZZ\n");
  EXPECT_TRUE(FollowUps().empty());
}

TEST_F(HourMsgCarriesNothing, UnreadableWindowIsLogged) {
  Seed("DROP TABLE Qel321Bch");
  LogCapture log(1);
  EXPECT_EQ(Mld_HourMsg(tag_, last_), 0);
  EXPECT_EQ(log.Text(), "Fehler(Cur_open): Buchungen(StdMld) lesen! RC:1146 " +
                            Values(last_day_) + "\nFehler(Cur_Read): Buchungen(StdMld) lesen RC:-1 " +
                            Values(last_day_) + "\n");
}

}  // namespace
