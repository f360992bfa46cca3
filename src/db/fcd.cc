#include "db/fcd.h"

#include "db/db.h"

namespace {

constexpr char kFcdReadFlg[] =
    "SELECT FcdFlg FROM  Qel131Fcd WHERE FcdNum = '%s' AND   FcdSta < 4 ";

constexpr char kFcdRead[] =
    "SELECT   FcdNum, FcdTyp, FcdZwt, FcdStd, FcdSol,   COALESCE(FcdPri, 0), "
    "COALESCE(FcdGpu, 0),    COALESCE(FcdFcd, -9), FcdFlg FROM Qel131Fcd WHERE FcdNum = '%s' ";

}  // namespace

int Fcd_ReadFlg(const char* code, FixText<4>& flg) {
  Sql_Format(kFcdReadFlg, SqlValue<6>(code).c_str());
  Cursor cur{SqlText, nullptr, 0};
  int rc = Cur_Open(cur);
  if (rc != 0) return rc;
  MYSQL_ROW row = nullptr;
  rc = Cur_Read(cur, row);
  if (rc == 0) Col_Text(flg, row[0]);
  (void)Cur_Close(cur);
  return rc;
}

int Fcd_Read(FcdSatz& fcd) {
  Sql_Format(kFcdRead, SqlValue(fcd.FcdNum).c_str());
  Cursor cur{SqlText, nullptr, 0};
  int rc = Cur_Open(cur);
  if (rc != 0) return rc;
  MYSQL_ROW row = nullptr;
  rc = Cur_Read(cur, row);
  if (rc == 0) {
    Col_Text(fcd.FcdNum, row[0]);
    Col_Long(fcd.FcdTyp, row[1]);
    Col_Long(fcd.FcdZwt, row[2]);
    Col_Long(fcd.FcdStd, row[3]);
    Col_Long(fcd.FcdSol, row[4]);
    Col_Long(fcd.FcdPri, row[5]);
    Col_Long(fcd.FcdGpu, row[6]);
    Col_Long(fcd.FcdFcd, row[7]);
    Col_Text(fcd.FcdFlg, row[8]);
  }
  (void)Cur_Close(cur);
  return rc;
}
