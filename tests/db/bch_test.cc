#include "db/bch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "db/db.h"
#include "support/dbtest.h"

namespace {

constexpr char kPnr[] = "00004711";
constexpr char kOther[] = "00000815";

class BchTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    day_ = Day(-3);
    next_ = Day(-2);
  }
  // A booking at date and time HHMMSS; an empty code is stored as NULL.
  void Book(const std::string& pnr, const std::string& date, const std::string& time, int fkt,
            const std::string& fcd = "A") {
    Seed("INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES ('" + pnr +
         "', '" + date + "', '" + date + time + "', " + std::to_string(fkt) + ", " +
         (fcd.empty() ? "NULL" : "'" + fcd + "'") + ")");
  }
  BchSatz Booking(const char* date, const char* time, std::int32_t fkt) {
    BchSatz bch{};
    bch.BchPnr.assign(kPnr);
    bch.BchVon.assign(date);
    bch.BchUhr.assign(time);
    bch.BchFkt = fkt;
    bch.BchFcd.assign("A");
    return bch;
  }
  std::string FktAt(const std::string& time) {
    Rows r = SessionQuery("SELECT BchFkt FROM Qel321Bch WHERE BchUhr = '" + day_ + time +
                          "' ORDER BY BchFkt");
    std::string out;
    for (const auto& row : r) out += (out.empty() ? "" : ",") + row[0];
    return out;
  }
  std::string day_;
  std::string next_;
};

// Every row a read hands out, as date/time/function, in the order read.
template <typename Read>
std::vector<std::string> ReadAll(Read read) {
  std::vector<std::string> got;
  BchSatz bch{};
  while (read(bch) == 0) {
    got.push_back(std::string(bch.BchVon.c_str()) + "/" + bch.BchUhr.c_str() + "/" +
                  std::to_string(bch.BchFkt));
    bch = BchSatz{};
  }
  return got;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

class DayMessageReads : public BchTest {
 protected:
  void SetUp() override {
    BchTest::SetUp();
    Book(kPnr, day_, "110000", 1);
    Book(kPnr, day_, "120000", 2);
    Book(kPnr, day_, "130000", 3);
    Book(kPnr, day_, "140000", 4);
    Book(kPnr, day_, "150000", 45);
    Book(kPnr, next_, "080000", 1);
    Book(kOther, day_, "080000", 1);
  }
  std::vector<std::string> Expected() {
    return {day_ + "/110000/1", day_ + "/120000/2", day_ + "/130000/3"};
  }
};

TEST_F(DayMessageReads, VortagTakesFunctionsOneToThreeOfThatPersonAndDate) {
  ASSERT_EQ(BchVortag_Open(kPnr, day_.c_str()), 0);
  EXPECT_EQ(Sorted(ReadAll(BchVortag_Read)), Expected());
  BchSatz bch{};
  EXPECT_EQ(BchVortag_Read(bch), END_OF_DATA);
  EXPECT_EQ(BchVortag_Close(), 0);
}

TEST_F(DayMessageReads, AbrTagTakesTheSameSelection) {
  ASSERT_EQ(BchAbrTag_Open(kPnr, day_.c_str()), 0);
  EXPECT_EQ(Sorted(ReadAll(BchAbrTag_Read)), Expected());
  EXPECT_EQ(BchAbrTag_Close(), 0);
}

TEST_F(DayMessageReads, BothCursorsOpenAtOnceReadTheirOwnRows) {
  ASSERT_EQ(BchVortag_Open(kPnr, day_.c_str()), 0);
  BchSatz bch{};
  ASSERT_EQ(BchVortag_Read(bch), 0);
  ASSERT_EQ(BchAbrTag_Open(kPnr, next_.c_str()), 0);
  EXPECT_EQ(ReadAll(BchAbrTag_Read), std::vector<std::string>{next_ + "/080000/1"});
  (void)BchAbrTag_Close();
  EXPECT_EQ(ReadAll(BchVortag_Read).size(), 2u);
  (void)BchVortag_Close();
}

TEST_F(DayMessageReads, PersonWithoutBookingsGivesEndOfDataAtOnce) {
  ASSERT_EQ(BchVortag_Open("00000001", day_.c_str()), 0);
  BchSatz bch{};
  EXPECT_EQ(BchVortag_Read(bch), END_OF_DATA);
  (void)BchVortag_Close();
}

TEST_F(DayMessageReads, ReadAfterFailedOpenGivesMinusOne) {
  Seed("DROP TABLE Qel321Bch");
  EXPECT_EQ(BchAbrTag_Open(kPnr, day_.c_str()), 1146);
  BchSatz bch{};
  EXPECT_EQ(BchAbrTag_Read(bch), -1);
  EXPECT_EQ(BchAbrTag_Close(), -1);
}

class BookingRow : public BchTest {};

TEST_F(BookingRow, NullCodeLeavesTheFieldAsItWas) {
  Book(kPnr, day_, "080000", 1, "");
  ASSERT_EQ(BchVortag_Open(kPnr, day_.c_str()), 0);
  BchSatz bch{};
  bch.BchFcd.assign("ZZ");
  ASSERT_EQ(BchVortag_Read(bch), 0);
  EXPECT_STREQ(bch.BchFcd.c_str(), "ZZ");
  (void)BchVortag_Close();
}

TEST_F(BookingRow, CarriedColumnsLandInTheirFields) {
  Seed("INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchBis, BchVws, BchFcd, BchZwt,"
       " BchAbt, BchKst, BchKtr, BchKrt, BchAzt, BchVra, BchTxt, BchSta) VALUES ('" +
       std::string(kPnr) + "', '" + day_ + "', '" + day_ + "073015', 2, '" + next_ + "', '" +
       day_ + "161500', 'K1', -7, 'Abt', 'Kst', 'Ktr', 'Krt', 'Azt', 'Vra', ' 12 Std', 3)");
  ASSERT_EQ(BchVortag_Open(kPnr, day_.c_str()), 0);
  BchSatz bch{};
  ASSERT_EQ(BchVortag_Read(bch), 0);
  EXPECT_STREQ(bch.BchUhr.c_str(), "073015");
  EXPECT_STREQ(bch.BchBis.c_str(), next_.c_str());
  EXPECT_STREQ(bch.BchVws.c_str(), "161500");
  EXPECT_STREQ(bch.BchFcd.c_str(), "K1");
  EXPECT_EQ(bch.BchZwt, -7);
  EXPECT_STREQ(bch.BchKst.c_str(), "Kst");
  EXPECT_STREQ(bch.BchVra.c_str(), "Vra");
  EXPECT_EQ(bch.BchTxt, 12);
  EXPECT_EQ(bch.BchSta, 3);
  (void)BchVortag_Close();
}

// The day record's period runs from 08:00 to 06:00 of the next day.
class HourWindowRead : public BchTest {
 protected:
  void SetUp() override {
    BchTest::SetUp();
    Seed("INSERT INTO Qel327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd) VALUES ('" +
         std::string(kPnr) + "', '" + day_ + "', '" + day_ + "', '" + day_ + "080000', '" +
         next_ + "', '" + next_ + "060000')");
    Book(kPnr, day_, "075959", 23);
    Book(kPnr, day_, "080000", 21);
    Book(kPnr, day_, "100000", 1);
    Book(kPnr, day_, "120000", 29);
    Book(kPnr, day_, "130000", 45);
    Book(kPnr, next_, "060000", 22);
    Book(kPnr, next_, "060001", 24);
    Book(kOther, day_, "110000", 24);
  }
};

TEST_F(HourWindowRead, TakesBothBoundsLeavesOut29And45NewestFirst) {
  ASSERT_EQ(BchStdMld_Open(kPnr, day_.c_str()), 0);
  EXPECT_EQ(ReadAll(BchStdMld_Read),
            (std::vector<std::string>{next_ + "/060000/22", day_ + "/100000/1",
                                      day_ + "/080000/21"}));
  EXPECT_EQ(BchStdMld_Close(), 0);
}

TEST_F(HourWindowRead, DateWithoutDayRecordGivesNoRows) {
  ASSERT_EQ(BchStdMld_Open(kPnr, next_.c_str()), 0);
  BchSatz bch{};
  EXPECT_EQ(BchStdMld_Read(bch), END_OF_DATA);
  (void)BchStdMld_Close();
}

class BookingUpdate : public BchTest {};

TEST_F(BookingUpdate, CancelsTheBookingAndStampsIt) {
  Book(kPnr, day_, "080000", 1);
  BchSatz bch = Booking(day_.c_str(), "080000", 1);
  EXPECT_EQ(Bch_Update(bch, kFktCancelled), 0);
  EXPECT_EQ(bch.BchFkt, 1);
  Rows r = SessionQuery("SELECT BchFkt, BchErf, BchDat IS NOT NULL FROM Qel321Bch");
  EXPECT_EQ(r, (Rows{{"45", "Korvane", "1"}}));
}

TEST_F(BookingUpdate, VanishedBookingGivesMinusOne) {
  Book(kPnr, day_, "080000", 2);
  EXPECT_EQ(Bch_Update(Booking(day_.c_str(), "080000", 1), kFktCancelled), -1);
  EXPECT_EQ(FktAt("080000"), "2");
}

TEST_F(BookingUpdate, DuplicateOfAnEarlierCancellationGives1062) {
  Book(kPnr, day_, "080000", 1);
  Book(kPnr, day_, "080000", 45);
  EXPECT_EQ(Bch_Update(Booking(day_.c_str(), "080000", 1), kFktCancelled), DB_DUPLICATE);
  EXPECT_EQ(FktAt("080000"), "1,45");
}

class BookingDelete : public BchTest {};

TEST_F(BookingDelete, RemovesOnlyTheFunctionGiven) {
  Book(kPnr, day_, "080000", 1);
  Book(kPnr, day_, "080000", 45);
  EXPECT_EQ(Bch_Delete(Booking(day_.c_str(), "080000", 1), kFktCancelled), 0);
  EXPECT_EQ(FktAt("080000"), "1");
}

TEST_F(BookingDelete, NothingToDeleteGivesZero) {
  EXPECT_EQ(Bch_Delete(Booking(day_.c_str(), "080000", 1), kFktCancelled), 0);
}

class FollowUpInsert : public BchTest {};

TEST_F(FollowUpInsert, IsReadBackWithItsTimeAndFoundByBothDayReads) {
  BchSatz bch = Booking(day_.c_str(), "000000", 1);
  bch.BchFcd.assign("KF");
  ASSERT_EQ(Bch_Insert(bch), 0);
  BchSatz late = Booking(day_.c_str(), "134501", 3);
  ASSERT_EQ(Bch_Insert(late), 0);
  ASSERT_EQ(BchVortag_Open(kPnr, day_.c_str()), 0);
  EXPECT_EQ(Sorted(ReadAll(BchVortag_Read)),
            (std::vector<std::string>{day_ + "/000000/1", day_ + "/134501/3"}));
  (void)BchVortag_Close();
  ASSERT_EQ(BchAbrTag_Open(kPnr, day_.c_str()), 0);
  std::vector<std::string> codes;
  BchSatz got{};
  while (BchAbrTag_Read(got) == 0) codes.push_back(got.BchFcd.c_str());
  EXPECT_EQ(Sorted(codes), (std::vector<std::string>{"A", "KF"}));
  (void)BchAbrTag_Close();
}

TEST_F(FollowUpInsert, FunctionFourIsStoredButIsNoDayMessage) {
  ASSERT_EQ(Bch_Insert(Booking(day_.c_str(), "000000", 4)), 0);
  EXPECT_EQ(FktAt("000000"), "4");
  ASSERT_EQ(BchVortag_Open(kPnr, day_.c_str()), 0);
  EXPECT_TRUE(ReadAll(BchVortag_Read).empty());
  (void)BchVortag_Close();
}

TEST_F(FollowUpInsert, SameKeyTwiceGives1062) {
  ASSERT_EQ(Bch_Insert(Booking(day_.c_str(), "000000", 1)), 0);
  EXPECT_EQ(Bch_Insert(Booking(day_.c_str(), "000000", 1)), DB_DUPLICATE);
}

class BookingCounts : public BchTest {
 protected:
  // The period lives only in memory: the count takes it from the record.
  TagSatz Period() {
    TagSatz tag{};
    tag.TagPnr.assign(kPnr);
    tag.TagTag.assign(day_.c_str());
    tag.TagVon.assign(day_.c_str());
    tag.TagUhr.assign("080000");
    tag.TagBis.assign(day_.c_str());
    tag.TagEnd.assign("170000");
    return tag;
  }
};

TEST_F(BookingCounts, TagMldCountsFunctionOneOnly) {
  for (int fkt : {1, 2, 3, 45}) Book(kPnr, day_, "08000" + std::to_string(fkt % 10), fkt);
  Book(kPnr, day_, "090000", 1);
  Book(kPnr, next_, "090000", 1);
  std::int32_t count = -1;
  EXPECT_EQ(Bch_CountTagMld(Period(), count), 0);
  EXPECT_EQ(count, 2);
}

TEST_F(BookingCounts, StdMldCountsBoundsAndFunctionZeroButNot45) {
  Book(kPnr, day_, "080000", 0);
  Book(kPnr, day_, "170000", 29);
  Book(kPnr, day_, "120000", 45);
  Book(kPnr, day_, "120001", 1);
  Book(kPnr, day_, "075959", 21);
  Book(kPnr, day_, "170001", 22);
  std::int32_t count = -1;
  EXPECT_EQ(Bch_CountStdMld(Period(), count), 0);
  EXPECT_EQ(count, 2);
}

TEST_F(BookingCounts, PersonWithoutBookingsCountsZero) {
  std::int32_t tagMld = -1;
  std::int32_t stdMld = -1;
  EXPECT_EQ(Bch_CountTagMld(Period(), tagMld), 0);
  EXPECT_EQ(Bch_CountStdMld(Period(), stdMld), 0);
  EXPECT_EQ(tagMld, 0);
  EXPECT_EQ(stdMld, 0);
}

}  // namespace
