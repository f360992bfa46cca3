#include "db/azv.h"

#include "db/db.h"

namespace {

constexpr char kAzvRead[] =
    "SELECT    AzvNum, DATE_FORMAT(ZtgVon,'%%Y%%m%%d'), AzvSol,    AzvSo2, AzvVhs, AzvHso, "
    "AzvHs2, AzvHtv FROM  Qel329Ztg, Qel140Azv WHERE ZtgPnr = '%s' AND "
    "DATE_FORMAT(ZtgVon,'%%Y%%m%%d') = '%s'%s AND ZtgAzt = AzvNum AND ZtgVon >= AzvGvo AND "
    "ZtgSta < 4 AND AzvSta < 4 AND (ZtgVon <= AzvGbi OR AzvGbi IS NULL) ";

}  // namespace

int Azv_Read(const char* pnr, const char* date, AzvSatz& azv) {
  Sql_Format(kAzvRead, SqlValue<9>(pnr).c_str(), SqlValue<9>(date).c_str(),
             Sql_DateKey(0, "ZtgVon", "=", date));
  return Db_ReadRow([&](MYSQL_ROW row) {
    Col_Text(azv.AzvNum, row[0]);  // row[1], the assignment's start, is not kept
    Col_Long(azv.AzvSol, row[2]);
    Col_Long(azv.AzvSo2, row[3]);
    Col_Long(azv.AzvVhs, row[4]);
    Col_Long(azv.AzvHso, row[5]);
    Col_Long(azv.AzvHs2, row[6]);
    Col_Long(azv.AzvHtv, row[7]);
  });
}
