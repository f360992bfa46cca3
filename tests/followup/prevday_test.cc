#include "followup/prevday.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "base/counts.h"
#include "base/runflags.h"
#include "support/dbtest.h"
#include "support/logcapture.h"

namespace {

constexpr char kPnr[] = "00004711";

// Day messages booked five days ago are carried over to yesterday, whose
// record has empty slots. Message types, by code:
//   K  -> KF (whole day, 480, priority 5, booking wins a tie) -> KG (half day)
//   H2 -> F2 (slot 2, 240)    H3 -> F3 (slot 3, 120); the two pass each other on a tie
//   S  -> FS (priority 4, needs a target time)
//   N  no follow-up    I  inactive    U -> ZZ, a type that does not exist
//   P  priority 1, stronger than every follow-up
class PrevDayTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    last_day_ = Day(-5);
    day_ = Yesterday();
    Seed("INSERT INTO Qel327Tag (TagPnr, TagTag, TagTgb, TagTgs, TagHtv, TagHvs, TagHtn, TagHns)"
         " VALUES ('" + std::string(kPnr) + "', '" + day_ + "', '', 0, '', 0, '', 0)");
    Seed("INSERT INTO Qel131Fcd (FcdNum, FcdTyp, FcdZwt, FcdStd, FcdSol, FcdPri, FcdGpu,"
         " FcdFlg, FcdSta) VALUES"
         " ('K', 1, 0, 0, 0, 9, 0, 'KF', 0), ('KF', 1, 14, 480, 0, 5, 0, 'KG', 0),"
         " ('KG', 2, 14, 111, 0, 5, 1, NULL, 0),"
         " ('H2', 2, 0, 0, 0, 9, 0, 'F2', 0), ('F2', 2, 14, 240, 0, 5, 2, NULL, 0),"
         " ('H3', 3, 0, 0, 0, 9, 0, 'F3', 0), ('F3', 3, 14, 120, 0, 5, 2, NULL, 0),"
         " ('S', 1, 0, 0, 0, 9, 0, 'FS', 0), ('FS', 1, 14, 480, 1, 4, 0, NULL, 0),"
         " ('N', 1, 0, 0, 0, 9, 0, NULL, 0), ('I', 1, 0, 0, 0, 9, 0, 'KF', 4),"
         " ('U', 1, 0, 0, 0, 9, 0, 'ZZ', 0), ('P', 1, 0, 0, 0, 1, 0, NULL, 0)");
    tag_.TagPnr.assign(kPnr);
    tag_.TagTag.assign(day_.c_str());
    tag_.TgbSol = 480;
    last_.TagPnr.assign(kPnr);
    last_.TagTag.assign(last_day_.c_str());
  }
  // A booking on date; an empty code is stored as NULL.
  void Book(const std::string& date, const std::string& time, int fkt, const std::string& code) {
    Seed("INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES ('" +
         std::string(kPnr) + "', '" + date + "', '" + date + time + "', " +
         std::to_string(fkt) + ", " + (code.empty() ? "NULL" : "'" + code + "'") + ")");
  }
  // An uncommitted change of the session: Committed() shows it once a commit was sent.
  void MarkUncommitted() { (void)SessionQuery("INSERT INTO Qel131Fcd (FcdNum) VALUES ('MRK')"); }
  bool MarkCommitted() {
    return Committed("SELECT COUNT(*) FROM Qel131Fcd WHERE FcdNum = 'MRK'") == Rows{{"1"}};
  }
  std::string FollowUpsQuery() const {
    return "SELECT DATE_FORMAT(BchUhr,'%H%i%s'), BchFkt, BchFcd FROM Qel321Bch WHERE BchVon = '" +
           day_ + "' ORDER BY BchFkt, BchFcd";
  }
  Rows FollowUps() { return SessionQuery(FollowUpsQuery()); }
  static constexpr char kSlots[] =
      "SELECT TagTgb, TagTgs, TagHtv, TagHvs, TagHtn, TagHns FROM Qel327Tag";
  std::string Pnr() const { return "Pnr:" + std::string(kPnr); }
  std::string last_day_;
  std::string day_;
  TagSatz tag_{};
  TagSatz last_{};
};

class PrevDayNothingToCarry : public PrevDayTest {};

TEST_F(PrevDayNothingToCarry, NoDayMessageGivesZeroWithoutLogOrCommit) {
  Book(last_day_, "080000", 24, "K");
  MarkUncommitted();
  LogCapture log(1);
  std::int32_t commits = MldCount.commits;
  EXPECT_EQ(Mld_PrevDay(tag_, last_), 0);
  EXPECT_EQ(log.Text(), "");
  EXPECT_EQ(MldCount.commits, commits);
  EXPECT_FALSE(MarkCommitted());
}

TEST_F(PrevDayNothingToCarry, TypesWithoutActiveFollowUpArePassedOverSilently) {
  Book(last_day_, "080000", 1, "N");
  Book(last_day_, "090000", 1, "I");
  Book(last_day_, "100000", 2, "Q");
  Book(last_day_, "110000", 3, "");
  MarkUncommitted();
  LogCapture log(1);
  std::int32_t commits = MldCount.commits;
  EXPECT_EQ(Mld_PrevDay(tag_, last_), 0);
  EXPECT_EQ(log.Text(), "");
  EXPECT_EQ(MldCount.commits, commits);
  EXPECT_FALSE(MarkCommitted());
  EXPECT_TRUE(FollowUps().empty());
}

TEST_F(PrevDayNothingToCarry, UnreadableFollowUpTypeIsLoggedAndPassedOverWithoutCommit) {
  Book(last_day_, "080000", 1, "U");
  MarkUncommitted();
  LogCapture log(1);
  EXPECT_EQ(Mld_PrevDay(tag_, last_), 0);
  EXPECT_EQ(log.Text(),
            "Fehler(Read): Meldungsart(Fcd) zur FolgeMld lesen RC:1032 " + Pnr() + " Fcd:ZZ\n");
  EXPECT_FALSE(MarkCommitted());
  EXPECT_TRUE(FollowUps().empty());
}

TEST_F(PrevDayNothingToCarry, UnreadableDayIsLoggedAndGivesZero) {
  Seed("DROP TABLE Qel321Bch");
  LogCapture log(1);
  EXPECT_EQ(Mld_PrevDay(tag_, last_), 0);
  std::string values = Pnr() + " Tag:" + last_day_ + "\n";
  EXPECT_EQ(log.Text(), "Fehler(Cur_open): Buchungen(TagesMld Vortag) lesen! RC:1146 " + values +
                            "Fehler(Cur_Read): Buchungen(TagesMld Vortag) lesen RC:-1 " + values);
}

TEST_F(PrevDayNothingToCarry, StoppedFollowUpIsStillCommitted) {
  Book(day_, "100000", 1, "P");
  Book(last_day_, "080000", 1, "K");
  MarkUncommitted();
  std::int32_t commits = MldCount.commits;
  EXPECT_EQ(Mld_PrevDay(tag_, last_), 0);
  EXPECT_EQ(MldCount.commits, commits + 1);
  EXPECT_TRUE(MarkCommitted());
  EXPECT_EQ(FollowUps(), (Rows{{"100000", "1", "P"}}));
}

class PrevDayCarriesOver : public PrevDayTest {};

TEST_F(PrevDayCarriesOver, HalfDayFollowUpsFillSlotsTwoAndThreeWithACommitEach) {
  Book(last_day_, "080000", 2, "H2");
  Book(last_day_, "130000", 3, "H3");
  std::int32_t commits = MldCount.commits;
  EXPECT_EQ(Mld_PrevDay(tag_, last_), 1);
  EXPECT_EQ(MldCount.commits, commits + 2);
  EXPECT_EQ(Committed(kSlots), (Rows{{"", "0", "F2", "240", "F3", "120"}}));
  EXPECT_EQ(Committed(FollowUpsQuery()), (Rows{{"000000", "2", "F2"}, {"000000", "3", "F3"}}));
}

TEST_F(PrevDayCarriesOver, FunctionAndSlotComeFromTheFollowUpType) {
  Book(last_day_, "080000", 2, "K");
  EXPECT_EQ(Mld_PrevDay(tag_, last_), 1);
  EXPECT_EQ(FollowUps(), (Rows{{"000000", "1", "KF"}}));
  EXPECT_EQ(SessionQuery(kSlots), (Rows{{"KF", "480", "", "0", "", "0"}}));
  EXPECT_STREQ(tag_.TagTgb.c_str(), "KF");
}

TEST_F(PrevDayCarriesOver, SecondFollowUpWithTheSameCodeIsStoppedByTheFirst) {
  Book(last_day_, "080000", 1, "K");
  Book(last_day_, "090000", 2, "K");
  LogCapture log(1);
  std::int32_t commits = MldCount.commits;
  EXPECT_EQ(Mld_PrevDay(tag_, last_), 1);
  EXPECT_EQ(MldCount.commits, commits + 2);
  EXPECT_EQ(FollowUps(), (Rows{{"000000", "1", "KF"}}));
  EXPECT_NE(log.Text().find("Info: (Fcd) in BchSatz hat h\xF6here Priorit\xE4t " + Pnr() +
                            " Tag:" + day_ + " Fcd:KF\n"),
            std::string::npos);
}

// Without clearing between rows the code of the generated follow-up would
// stand in for the NULL one and carry KF over to KG, cancelling KF.
TEST_F(PrevDayCarriesOver, BookingWithoutCodeAfterAFollowUpYieldsNothing) {
  Book(last_day_, "080000", 1, "K");
  Book(last_day_, "090000", 1, "");
  std::int32_t commits = MldCount.commits;
  EXPECT_EQ(Mld_PrevDay(tag_, last_), 1);
  EXPECT_EQ(MldCount.commits, commits + 1);
  EXPECT_EQ(FollowUps(), (Rows{{"000000", "1", "KF"}}));
}

TEST_F(PrevDayCarriesOver, RefusalBesideAGeneratedFollowUpKeepsTheResultAndIsCommitted) {
  tag_.TgbSol = 0;
  Book(last_day_, "080000", 1, "K");
  Book(last_day_, "090000", 2, "S");
  LogCapture log(0);
  std::int32_t commits = MldCount.commits;
  EXPECT_EQ(Mld_PrevDay(tag_, last_), 1);
  EXPECT_EQ(MldCount.commits, commits + 2);
  EXPECT_EQ(Committed(FollowUpsQuery()), (Rows{{"000000", "1", "KF"}}));
  EXPECT_EQ(log.Text(), "Info: Folgemeldungsart mit Sollzeitpr\xFC" "fung! " + Pnr() +
                            " Tag:" + day_ + " PirZol:FS\n");
}

}  // namespace
