#include <gtest/gtest.h>

#include <string>

#include "db/db.h"
#include "db/tag.h"
#include "support/dbtest.h"

namespace {

class Session : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    Seed("INSERT INTO Qel131Fcd (FcdNum, FcdTyp) VALUES ('K', 1), ('U', 1), ('S', 2)");
  }
};

TEST_F(Session, EmptyResultGivesEndOfDataAndKeepsGivingIt) {
  Cursor cur{"SELECT FcdNum FROM Qel131Fcd WHERE FcdNum = 'none'", nullptr, 0};
  ASSERT_EQ(Cur_Open(cur), 0);
  MYSQL_ROW row = nullptr;
  EXPECT_EQ(Cur_Read(cur, row), END_OF_DATA);
  EXPECT_EQ(Cur_Read(cur, row), END_OF_DATA);
  EXPECT_EQ(Cur_Close(cur), 0);
  EXPECT_EQ(Cur_Close(cur), -1);
}

TEST_F(Session, RowsComeOnceEachThenEndOfData) {
  Cursor cur{"SELECT FcdNum FROM Qel131Fcd ORDER BY FcdNum", nullptr, 0};
  ASSERT_EQ(Cur_Open(cur), 0);
  MYSQL_ROW row = nullptr;
  std::string seen;
  while (Cur_Read(cur, row) == 0) seen += row[0];
  EXPECT_EQ(seen, "KSU");
  EXPECT_EQ(cur.rows, 3);
  EXPECT_EQ(Cur_Read(cur, row), END_OF_DATA);
  EXPECT_EQ(Cur_Close(cur), 0);
}

TEST_F(Session, NeverOpenedOrRefusedCursorAnswersMinusOne) {
  Cursor never{"SELECT 1", nullptr, 0};
  MYSQL_ROW row = nullptr;
  EXPECT_EQ(Cur_Read(never, row), -1);
  EXPECT_EQ(Cur_Close(never), -1);

  Cursor bad{"SELECT FROM nowhere", nullptr, 0};
  EXPECT_EQ(Cur_Open(bad), 1064);  // the server's own number comes back
  EXPECT_EQ(Cur_Read(bad, row), -1);
  EXPECT_EQ(Cur_Close(bad), -1);
}

TEST_F(Session, UpdateStoresNoResultAndCountsChangedRowsOnly) {
  Cursor upd{"UPDATE Qel131Fcd SET FcdTyp = 1 WHERE FcdNum = 'K'", nullptr, 0};
  EXPECT_EQ(Cur_Open(upd), 0);
  EXPECT_EQ(Db_AffectedRows(), 0u);  // the row already held the value
  EXPECT_EQ(Cur_Close(upd), -1);
  Cursor upd2{"UPDATE Qel131Fcd SET FcdTyp = 3 WHERE FcdNum = 'K'", nullptr, 0};
  EXPECT_EQ(Cur_Open(upd2), 0);
  EXPECT_EQ(Db_AffectedRows(), 1u);
}

TEST_F(Session, TwoCursorsOpenAtOnceHandOutTheirOwnRows) {
  Cursor a{"SELECT FcdNum FROM Qel131Fcd ORDER BY FcdNum", nullptr, 0};
  Cursor b{"SELECT FcdNum FROM Qel131Fcd ORDER BY FcdNum DESC", nullptr, 0};
  ASSERT_EQ(Cur_Open(a), 0);
  ASSERT_EQ(Cur_Open(b), 0);
  MYSQL_ROW ra = nullptr, rb = nullptr;
  std::string seen;
  while (Cur_Read(a, ra) == 0 && Cur_Read(b, rb) == 0) seen += std::string(ra[0]) + rb[0] + " ";
  EXPECT_EQ(seen, "KU SS UK ");
  EXPECT_EQ(Cur_Close(a), 0);
  EXPECT_EQ(Cur_Close(b), 0);
}

TEST_F(Session, RefusedStatementBetweenReadsDoesNotEndAStoredResult) {
  Cursor a{"SELECT FcdNum FROM Qel131Fcd ORDER BY FcdNum", nullptr, 0};
  ASSERT_EQ(Cur_Open(a), 0);
  MYSQL_ROW row = nullptr;
  ASSERT_EQ(Cur_Read(a, row), 0);
  Cursor bad{"UPDATE NoSuchTable SET x = 1", nullptr, 0};
  EXPECT_EQ(Cur_Open(bad), 1146);
  EXPECT_EQ(Cur_Read(a, row), 0);
  EXPECT_STREQ(row[0], "S");
  EXPECT_EQ(Cur_Close(a), 0);
}

TEST_F(Session, ChangesStayInvisibleToOthersUntilCommitted) {
  Cursor ins{"INSERT INTO Qel131Fcd (FcdNum, FcdTyp) VALUES ('N', 1)", nullptr, 0};
  ASSERT_EQ(Cur_Open(ins), 0);
  const std::string ask = "SELECT COUNT(*) FROM " + db_ + ".Qel131Fcd WHERE FcdNum = 'N'";
  EXPECT_EQ(Committed(ask)[0][0], "0");
  EXPECT_EQ(SessionQuery("SELECT COUNT(*) FROM Qel131Fcd WHERE FcdNum = 'N'")[0][0], "1");
  EXPECT_EQ(Db_Commit(), 1);
  EXPECT_EQ(Committed(ask)[0][0], "1");
}

TEST_F(Session, CommitOnALostSessionAnswersZero) {
  std::string id = SessionQuery("SELECT CONNECTION_ID()")[0][0];
  admin_->Exec("KILL CONNECTION " + id);
  EXPECT_EQ(Db_Commit(), 0);
}

TEST_F(Session, RunLockIsRefusedWhileAnotherSessionHoldsIt) {
  AdminSession other;
  ASSERT_EQ(other.Query("SELECT GET_LOCK('pirzol.PZLOCK', 0)")[0][0], "1");
  EXPECT_EQ(Db_Lock("PZLOCK"), DB_LOCKED);
  other.Exec("DO RELEASE_LOCK('pirzol.PZLOCK')");
  EXPECT_EQ(Db_Lock("PZLOCK"), 0);
}

TEST_F(Session, EscapedValuesNeitherBreakNorWidenAStatement) {
  Seed("INSERT INTO Qel327Tag (TagPnr, TagTag) VALUES ('O''Ne\\\\il', CURDATE())");
  Seed("INSERT INTO Qel320Tgb (TgbPnr, TgbDtm, TgbZtr) VALUES ('O''Ne\\\\il', CURDATE(), 1),"
       " ('other', CURDATE(), 1)");
  Seed("INSERT INTO Qel327Tag (TagPnr, TagTag) VALUES ('other', CURDATE())");
  TagSatz tag{};
  ASSERT_EQ(TagAlt_Open("O'Ne\\il", "99991231"), 0);
  ASSERT_EQ(TagAlt_Read(tag), 0);
  EXPECT_STREQ(tag.TagPnr.c_str(), "O'Ne\\il");
  EXPECT_EQ(TagAlt_Read(tag), END_OF_DATA);
  (void)TagAlt_Close();
  ASSERT_EQ(TagAlt_Open("x' OR '1'='1", "99991231"), 0);
  EXPECT_EQ(TagAlt_Read(tag), END_OF_DATA);
  (void)TagAlt_Close();
}

TEST_F(Session, WrongPasswordGivesTheServersNumber) {
  Db_Disconnect();
  EXPECT_EQ(Db_Connect(kTestUser, "wrong", "localhost", db_.c_str()), 1045);
}

TEST_F(Session, OverlongStatementEndsTheRunWithStatusOne) {
  std::string big(2000, 'x');
  EXPECT_EXIT(Sql_Format("SELECT '%s'", big.c_str()), ::testing::ExitedWithCode(1), "");
  // One character short of the buffer still fits.
  std::string fits(kSqlTextSize - 1 - 9, 'y');
  Sql_Format("SELECT '%s'", fits.c_str());
  std::string value;
  EXPECT_EQ(Db_ReadRow([&](MYSQL_ROW row) { value = row[0]; }), 0);
  EXPECT_EQ(value, fits);
}

}  // namespace
