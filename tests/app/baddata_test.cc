// Data a careless import leaves behind, through the whole batch: NULLs,
// over-wide columns, quotes and wildcards, follow-up cycles, dates at month
// and year ends. None of it may crash the run, change a statement, or book
// for anybody but the person read.
#include <gtest/gtest.h>

#include <string>

#include "support/batch.h"

namespace {

class BadData : public BatchTest {
 protected:
  // A placeholder on `day` and a message day on `last` with a booking of
  // `code` (also in the day's first slot), both with a target time; pnr and code are SQL literals' insides.
  void SeedCase(const std::string& pnr, const std::string& day, const std::string& last,
                const std::string& code) {
    Seed("INSERT INTO Qel327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd, TagTgb, TagTgs,"
         " TagHtv, TagHvs, TagHtn, TagHns) VALUES ('" + pnr + "', " + day + ", " + day + ","
         " TIMESTAMP(" + day + ", '12:00:00'), " + day + ", TIMESTAMP(" + day + ", '12:00:00'),"
         " '', 0, '', 0, '', 0), ('" + pnr + "', " + last + ", " + last + ", TIMESTAMP(" + last +
         ", '07:00:00'), " + last + ", TIMESTAMP(" + last + ", '15:00:00'), '" + code +
         "', 480, '', 0, '', 0)");
    Seed("INSERT INTO Qel320Tgb (TgbPnr, TgbDtm, TgbZtr, TgbSol) VALUES ('" + pnr + "', " + day +
         ", 1, 480), ('" + pnr + "', " + last + ", 1, 480)");
    Seed("INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES ('" + pnr + "', " +
         last + ", TIMESTAMP(" + last + ", '00:00:00'), 1, '" + code + "')");
    Seed("INSERT INTO Qel329Ztg (ZtgPnr, ZtgVon, ZtgAzt, ZtgSta) VALUES ('" + pnr + "', " + day +
         ", 'R8', 0)");
  }
  void SeedType(const std::string& code, const std::string& next) {
    Seed("INSERT INTO Qel131Fcd (FcdNum, FcdTyp, FcdZwt, FcdStd, FcdSol, FcdPri, FcdGpu, FcdFcd,"
         " FcdFlg) VALUES ('" + code + "', 1, 1, 0, 0, 5, 0, NULL, '" + next + "')");
  }
  void SeedRule() {
    Seed("INSERT INTO Qel140Azv (AzvNum, AzvGvo, AzvGbi, AzvSol, AzvSo2, AzvVhs, AzvHso, AzvHs2,"
         " AzvHtv, AzvSta) VALUES ('R8', '2000-01-01', NULL, 480, 0, 0, 0, 0, 0, 0)");
  }
  // Bookings of an accounted day, as another connection sees them.
  Rows FollowUps(const std::string& day = "CURDATE() - INTERVAL 1 DAY") {
    return Committed("SELECT BchPnr, DATE_FORMAT(BchVon, '%Y%m%d'), BchFkt, BchFcd FROM " + db_ +
                     ".Qel321Bch WHERE BchVon = " + day + " ORDER BY BchPnr, BchFkt, BchFcd");
  }
  const std::string kY = "CURDATE() - INTERVAL 1 DAY";
  const std::string kP = "CURDATE() - INTERVAL 2 DAY";
};

TEST_F(BadData, QuotesBackslashesAndWildcardsStayInsideTheirValues) {
  SeedRule();
  // Codes made of a quote, a percent sign and a backslash, both ways round.
  SeedType("\\'%\\\\", "%\\'\\\\");
  SeedType("%\\'\\\\", "%\\'\\\\");
  SeedType("K", "KF");
  SeedType("KF", "KF");
  SeedCase("O\\'B\\\\%_1", kY, kP, "\\'%\\\\");  // O'B\%_1
  SeedCase("OXB\\\\%_1", kY, kP, "K");           // would match a careless LIKE
  SeedCase("O", kY, kP, "");                      // would match a cut-off quote
  RunResult r = Run("XXX", "D");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FollowUps(), (Rows{{"O'B\\%_1", Yesterday(), "1", "%'\\"},
                               {"OXB\\%_1", Yesterday(), "1", "KF"}}));
  EXPECT_EQ(ParamFile(), "O'B\\%_1 ," + DottedYesterday() + "\nOXB\\%_1 ," +
                             DottedYesterday() + "\n");
}

TEST_F(BadData, TypesThatFollowThemselvesOrEachOtherAreCarriedOnce) {
  SeedRule();
  SeedType("A", "B");
  SeedType("B", "A");
  SeedType("S", "S");
  SeedCase("M1", kY, kP, "A");
  SeedCase("M2", kY, kP, "B");
  SeedCase("M3", kY, kP, "S");
  RunResult r = Run("XXX", "D");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FollowUps(), (Rows{{"M1", Yesterday(), "1", "B"}, {"M2", Yesterday(), "1", "A"},
                               {"M3", Yesterday(), "1", "S"}}));
}

TEST_F(BadData, NullsInEveryReadColumnGiveEmptyFieldsAndZeros) {
  Seed("INSERT INTO Qel140Azv (AzvNum, AzvGvo) VALUES ('R8', '2000-01-01')");
  Seed("INSERT INTO Qel131Fcd (FcdNum, FcdFlg) VALUES ('K', 'KN')");
  Seed("INSERT INTO Qel131Fcd (FcdNum, FcdTyp) VALUES ('KN', 1)");
  SeedCase("N1", kY, kP, "K");
  SeedCase("N2", kY, kP, "K");
  Seed("UPDATE Qel327Tag SET TagVon = NULL, TagUhr = NULL, TagBis = NULL, TagEnd = NULL,"
       " TagTgs = NULL, TagHtv = NULL, TagHvs = NULL, TagHtn = NULL, TagHns = NULL"
       " WHERE TagTag = " + kP);
  Seed("UPDATE Qel327Tag SET TagTgb = NULL WHERE TagPnr = 'N2'");
  Seed("UPDATE Qel320Tgb SET TgbSol = NULL");
  Seed("INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd, BchZwt, BchAbt, BchKst,"
       " BchKtr, BchKrt, BchAzt, BchVra, BchTxt, BchSta, BchTrm, BchDat) VALUES ('N1', " + kY +
       ", TIMESTAMP(" + kY + ", '06:00:00'), 1, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,"
       " NULL, NULL, NULL, NULL)");
  RunResult r = Run("XXX", "D");
  EXPECT_EQ(r.status, 0) << r.err;
  // N1's type has no value selector and its rule no values: the follow-up is
  // booked and credits 0; the booking without a code on the day is passed
  // over by the check. N2's days carry no code, so nothing follows it.
  EXPECT_EQ(FollowUps(), (Rows{{"N1", Yesterday(), "1", "NULL"}, {"N1", Yesterday(), "1", "KN"}}));
  EXPECT_EQ(Committed("SELECT TagPnr, TagTgb, TagTgs FROM " + db_ + ".Qel327Tag WHERE TagTag = " +
                      kY + " ORDER BY TagPnr"),
            (Rows{{"N1", "KN", "0"}, {"N2", "NULL", "0"}}));
}

TEST_F(BadData, WiderColumnsNeverLendAPersonsBookingToAnother) {
  for (const char* alter :
       {"ALTER TABLE Qel327Tag MODIFY TagPnr VARCHAR(20) NOT NULL, MODIFY TagTgb VARCHAR(10)",
        "ALTER TABLE Qel320Tgb MODIFY TgbPnr VARCHAR(20) NOT NULL",
        "ALTER TABLE Qel321Bch MODIFY BchPnr VARCHAR(20) NOT NULL, MODIFY BchFcd VARCHAR(10)",
        "ALTER TABLE Qel329Ztg MODIFY ZtgPnr VARCHAR(20) NOT NULL",
        "ALTER TABLE Qel131Fcd MODIFY FcdNum VARCHAR(10) NOT NULL, MODIFY FcdFlg VARCHAR(10)"}) {
    Seed(alter);
  }
  SeedRule();
  SeedType("K", "KF");
  SeedType("KF", "KF");
  SeedType("KLONG", "KF");
  SeedCase("12345678", kY, kP, "K");
  SeedCase("123456789", kY, kP, "K");
  SeedCase("L1", kY, kP, "KLONG");  // cut to KLO, a type that does not exist
  RunResult r = Run("XXX", "D");
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("longer than 8 characters"), std::string::npos) << r.err;
  EXPECT_NE(Log().find("Fehler(TagAkt_Read): Personalnummer zu lang! "), std::string::npos);
  EXPECT_EQ(FollowUps(), (Rows{{"12345678", Yesterday(), "1", "KF"}}));
  EXPECT_EQ(ParamFile(), "12345678," + DottedYesterday() + "\n");
}

TEST_F(BadData, SearchCrossesMonthAndYearEnds) {
  // This account's sessions run on 2026-03-01, so the accounted day is the
  // last of February and the message day lies in the year before.
  WriteIni(ini_, kDateUser, kDatePass, "localhost", db_);
  SeedRule();
  SeedType("K", "KF");
  SeedType("KF", "KF");
  SeedCase("Y1", "'2026-02-28'", "'2025-12-31'", "K");
  Seed("INSERT INTO Qel327Tag (TagPnr, TagTag, TagTgb, TagTgs, TagHtv, TagHvs, TagHtn, TagHns)"
       " VALUES ('Y1', '2026-01-01', '', 0, '', 0, '', 0)");
  Seed("INSERT INTO Qel320Tgb (TgbPnr, TgbDtm, TgbZtr, TgbSol) VALUES ('Y1', '2026-01-01', 1, 0)");
  RunResult r = Run("XXX", "D");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FollowUps("'2026-02-28'"), (Rows{{"Y1", "20260228", "1", "KF"}}));
  EXPECT_EQ(ParamFile(), "Y1      ,28.02.2026\n");
  // The server's clock decides, and the operator is told it differs from ours.
  EXPECT_NE(r.err.find("the server's yesterday is 20260228 but this machine's is "),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("day 2026-02-28: "), std::string::npos) << r.err;
}

// Umlauts in a personnel number and in the codes (seeded here as UTF-8, held
// by the batch as single Windows-1252 bytes): every byte goes through the
// reads, the insert, the slot update, the log and the parameter file.
TEST_F(BadData, UmlautsGoThroughTheNightUnchanged) {
  SeedRule();
  SeedType("\xC3\x9CSt", "\xC3\x9CSF");
  SeedType("\xC3\x9CSF", "\xC3\x9CSF");
  SeedCase("M\xC3\xBCller01", kY, kP, "\xC3\x9CSt");
  RunResult r = Run("XXX", "D");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FollowUps(), (Rows{{"M\xC3\xBCller01", Yesterday(), "1", "\xC3\x9CSF"}}));
  EXPECT_EQ(Committed("SELECT TagTgb, TagTgs FROM " + db_ + ".Qel327Tag WHERE TagTag = " + kY),
            (Rows{{"\xC3\x9CSF", "480"}}));
  EXPECT_EQ(ParamFile(), "M\xFCller01," + DottedYesterday() + "\n");
  EXPECT_NE(Log().find("Info: Buchung eingepflegt! RC:0 Pnr:M\xFCller01 Tag:" + Yesterday() +
                       " Fkt:1 Fcd:\xDC" "SF\n"),
            std::string::npos)
      << Log();
}

}  // namespace
