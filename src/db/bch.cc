#include "db/bch.h"

#include "db/db.h"

namespace {

constexpr char kBchVortag[] =
    "SELECT     BchPnr, DATE_FORMAT(BchVon,'%%Y%%m%%d'),     "
    "DATE_FORMAT(BchUhr,'%%H%%i%%s'),     BchFkt, DATE_FORMAT(BchBis,'%%Y%%m%%d'),     "
    "DATE_FORMAT(BchVws,'%%H%%i%%s'),     BchFcd, BchZwt, BchAbt, BchKst, BchKtr, BchKrt, "
    "BchAzt, BchVra,     BchTxt, BchSta, BchErf, BchTrm FROM Qel321Bch WHERE BchPnr = '%s' "
    "AND DATE_FORMAT(BchVon, '%%Y%%m%%d') = '%s'%s AND (BchFkt = 1 OR BchFkt = 2 OR BchFkt = "
    "3) ORDER BY TIME(BchUhr), BchFkt ";

// The same as kBchVortag but for the final blank: a statement of its own for
// the cursor that is open while the outer one is read.
constexpr char kBchAbrTag[] =
    "SELECT     BchPnr, DATE_FORMAT(BchVon,'%%Y%%m%%d'),     "
    "DATE_FORMAT(BchUhr,'%%H%%i%%s'),     BchFkt, DATE_FORMAT(BchBis,'%%Y%%m%%d'),     "
    "DATE_FORMAT(BchVws,'%%H%%i%%s'),     BchFcd, BchZwt, BchAbt, BchKst, BchKtr, BchKrt, "
    "BchAzt, BchVra,     BchTxt, BchSta, BchErf, BchTrm, DATE_FORMAT(BchDat, '%%Y-%%m-%%d "
    "%%H:%%i:%%s') FROM Qel321Bch WHERE BchPnr = '%s' "
    "AND DATE_FORMAT(BchVon, '%%Y%%m%%d') = '%s'%s AND (BchFkt = 1 OR BchFkt = 2 OR BchFkt = 3)"
    " ORDER BY TIME(BchUhr), BchFkt";

constexpr char kBchStdMld[] =
    "SELECT     BchPnr, DATE_FORMAT(BchVon,'%%Y%%m%%d'),     "
    "DATE_FORMAT(BchUhr,'%%H%%i%%s'),     BchFkt, DATE_FORMAT(BchBis,'%%Y%%m%%d'),     "
    "DATE_FORMAT(BchVws,'%%H%%i%%s'),     BchFcd, BchZwt, BchAbt, BchKst, BchKtr, BchKrt, "
    "BchAzt, BchVra,     BchTxt, BchSta, BchErf, BchTrm FROM Qel321Bch, Qel327Tag WHERE "
    "TagPnr = '%s' AND BchPnr = '%s' AND   TagPnr = BchPnr AND  DATE_FORMAT(TagTag, "
    "'%%Y%%m%%d') = '%s'%s AND BchVon >= TagVon AND BchVon <= TagBis AND  "
    "CONCAT(DATE_FORMAT(BchVon,'%%Y%%m%%d'), DATE_FORMAT(BchUhr,'%%H%%i%%s'))      >=  "
    "CONCAT(DATE_FORMAT(TagVon,'%%Y%%m%%d'), DATE_FORMAT(TagUhr,'%%H%%i%%s')) AND  "
    "CONCAT(DATE_FORMAT(BchVon,'%%Y%%m%%d'), DATE_FORMAT(BchUhr,'%%H%%i%%s'))      <=  "
    "CONCAT(DATE_FORMAT(TagBis,'%%Y%%m%%d'), DATE_FORMAT(TagEnd,'%%H%%i%%s')) AND  BchFkt <> "
    "45 AND  BchFkt <> 29 ORDER BY CONCAT(DATE_FORMAT(BchVon,'%%Y%%m%%d'),                 "
    "DATE_FORMAT(BchUhr,'%%H%%i%%s')) DESC ";

constexpr char kBchUpdate[] =
    "UPDATE QEL321Bch    SET BchFkt = %ld,        BchDat = sysdate(),        BchErf = "
    "'Korvane' WHERE BchPnr = '%s' AND DATE_FORMAT(BchVon, '%%Y%%m%%d') = '%s'%s AND "
    "DATE_FORMAT(BchUhr, '%%H%%i%%s') = '%s' AND BchFkt = %ld ";

constexpr char kBchDelete[] =
    "DELETE FROM QEL321Bch  WHERE BchPnr = '%s'  AND   DATE_FORMAT(BchVon, '%%Y%%m%%d') = "
    "'%s'%s  AND   DATE_FORMAT(BchUhr, '%%H%%i%%s') = '%s'  AND   BchFkt = %ld ";

// BchUhr gets the date and the time, 14 digits: with two more the value is
// no valid DATETIME and a strict server refuses every follow-up.
constexpr char kBchInsert[] =
    "INSERT INTO Qel321Bch   (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES   ('%s', '%s', "
    "'%s%s', %ld, '%s') ";

constexpr char kBchCountTagMld[] =
    "SELECT COUNT(*) FROM  Qel321Bch WHERE BchPnr = '%s'   AND DATE_FORMAT(BchVon, "
    "'%%Y%%m%%d') = '%s'%s   AND BchFkt = 1 ";

// A follow-up as Mld_Generate books it, at 00:00:00 of the day with its
// type as the function; one cancelled since has function 45.
constexpr char kBchCountFollowUp[] =
    "SELECT COUNT(*) FROM Qel321Bch WHERE BchPnr = '%s' AND BchVon = '%s' AND BchUhr = "
    "'%s000000' AND BchFcd = '%s' AND BchFkt IN (%ld, 45)";

constexpr char kBchCountStdMld[] =
    "SELECT COUNT(*) FROM  Qel321Bch WHERE BchPnr = '%s'%s%s AND CONCAT(DATE_FORMAT(BchVon, "
    "'%%Y%%m%%d'),             DATE_FORMAT(BchUhr,'%%H%%i%%s'))  >= '%s%s' AND "
    "CONCAT(DATE_FORMAT(BchVon, '%%Y%%m%%d'),             DATE_FORMAT(BchUhr,'%%H%%i%%s'))  "
    "<= '%s%s'    AND (BchFkt = 21     OR  BchFkt = 22     OR  BchFkt = 23     OR  BchFkt = "
    "24     OR  BchFkt = 25     OR  BchFkt = 29     OR  BchFkt = 30     OR  BchFkt = 0) ";

Cursor BchVortag{nullptr, nullptr, 0};
Cursor BchAbrTag{nullptr, nullptr, 0};
Cursor BchStdMld{nullptr, nullptr, 0};

// images: the row carries the entry time too, kept with the author.
int ReadInto(Cursor& cur, BchSatz& bch, bool images = false) {
  MYSQL_ROW row = nullptr;
  int rc = Cur_Read(cur, row);
  if (rc != 0) return rc;
  Col_Text(bch.BchPnr, row[0]);
  Col_Text(bch.BchVon, row[1]);
  Col_Text(bch.BchUhr, row[2]);
  Col_Long(bch.BchFkt, row[3]);
  Col_Text(bch.BchBis, row[4]);
  Col_Text(bch.BchVws, row[5]);
  Col_Text(bch.BchFcd, row[6]);
  Col_Long(bch.BchZwt, row[7]);
  Col_Text(bch.BchAbt, row[8]);
  Col_Text(bch.BchKst, row[9]);
  Col_Text(bch.BchKtr, row[10]);
  Col_Text(bch.BchKrt, row[11]);
  Col_Text(bch.BchAzt, row[12]);
  Col_Text(bch.BchVra, row[13]);
  Col_Long(bch.BchTxt, row[14]);
  Col_Long(bch.BchSta, row[15]);
  if (images) {
    Col_Text(bch.BchErf, row[16]);
    Col_Text(bch.BchDat, row[18]);
  }
  return 0;  // BchTrm is selected but not kept
}

// Runs the COUNT(*) statement just formatted and takes its one value.
int CountInto(std::int32_t& count) {
  return Db_ReadRow([&](MYSQL_ROW row) { Col_Long(count, row[0]); });
}

}  // namespace

int BchVortag_Open(const char* pnr, const char* date) {
  Sql_Format(kBchVortag, SqlValue<9>(pnr).c_str(), SqlValue<9>(date).c_str(),
             Sql_DateKey(0, "BchVon", "=", date));
  return Cur_OpenFormatted(BchVortag);
}
int BchVortag_Read(BchSatz& bch) { return ReadInto(BchVortag, bch); }
int BchVortag_Close() { return Cur_Close(BchVortag); }
int BchVortag_Left() {
  if (BchVortag.result == nullptr) return 0;
  const auto all = static_cast<std::int64_t>(mysql_num_rows(BchVortag.result));
  return all > BchVortag.rows ? static_cast<int>(all - BchVortag.rows) : 0;
}

int BchAbrTag_Open(const char* pnr, const char* date) {
  Sql_Format(kBchAbrTag, SqlValue<9>(pnr).c_str(), SqlValue<9>(date).c_str(),
             Sql_DateKey(0, "BchVon", "=", date));
  return Cur_OpenFormatted(BchAbrTag);
}
int BchAbrTag_Read(BchSatz& bch) { return ReadInto(BchAbrTag, bch, true); }
int BchAbrTag_Close() { return Cur_Close(BchAbrTag); }

int BchStdMld_Open(const char* pnr, const char* date) {
  Sql_Format(kBchStdMld, SqlValue<9>(pnr).c_str(), SqlValue<9>(pnr).c_str(),
             SqlValue<9>(date).c_str(), Sql_DateKey(0, "TagTag", "=", date));
  return Cur_OpenFormatted(BchStdMld);
}
int BchStdMld_Read(BchSatz& bch) { return ReadInto(BchStdMld, bch); }
int BchStdMld_Close() { return Cur_Close(BchStdMld); }

int Bch_Update(const BchSatz& bch, std::int32_t fkt) {
  Sql_Format(kBchUpdate, static_cast<long>(fkt), SqlValue(bch.BchPnr).c_str(),
             SqlValue(bch.BchVon).c_str(), Sql_DateKey(0, "BchVon", "=", bch.BchVon.c_str()),
             SqlValue(bch.BchUhr).c_str(), static_cast<long>(bch.BchFkt));
  return Db_Change();
}

int Bch_Delete(const BchSatz& bch, std::int32_t fkt) {
  Sql_Format(kBchDelete, SqlValue(bch.BchPnr).c_str(), SqlValue(bch.BchVon).c_str(),
             Sql_DateKey(0, "BchVon", "=", bch.BchVon.c_str()), SqlValue(bch.BchUhr).c_str(),
             static_cast<long>(fkt));
  return Db_Exec();
}

int Bch_Insert(const BchSatz& bch) {
  Sql_Format(kBchInsert, SqlValue(bch.BchPnr).c_str(), SqlValue(bch.BchVon).c_str(),
             SqlValue(bch.BchVon).c_str(), SqlValue(bch.BchUhr).c_str(),
             static_cast<long>(bch.BchFkt), SqlValue(bch.BchFcd).c_str());
  return Db_Exec();
}

int Bch_CountTagMld(const TagSatz& tag, std::int32_t& count) {
  Sql_Format(kBchCountTagMld, SqlValue(tag.TagPnr).c_str(), SqlValue(tag.TagTag).c_str(),
             Sql_DateKey(0, "BchVon", "=", tag.TagTag.c_str()));
  return CountInto(count);
}

int Bch_CountFollowUp(const TagSatz& tag, const char* code, std::int32_t function,
                      std::int32_t& count) {
  Sql_Format(kBchCountFollowUp, SqlValue(tag.TagPnr).c_str(), SqlValue(tag.TagTag).c_str(),
             SqlValue(tag.TagTag).c_str(), SqlValue<6>(code).c_str(), static_cast<long>(function));
  return CountInto(count);
}

int Bch_CountStdMld(const TagSatz& tag, std::int32_t& count) {
  // The window's bounds compare date and time as one text; its first eight
  // characters bound the booking's date, which the key finds.
  Sql_Format(kBchCountStdMld, SqlValue(tag.TagPnr).c_str(),
             Sql_DateKey(0, "BchVon", ">=", tag.TagVon.c_str()),
             Sql_DateKey(1, "BchVon", "<=", tag.TagBis.c_str()), SqlValue(tag.TagVon).c_str(),
             SqlValue(tag.TagUhr).c_str(), SqlValue(tag.TagBis).c_str(),
             SqlValue(tag.TagEnd).c_str());
  return CountInto(count);
}
