#include "db/fcd.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

#include "db/db.h"

namespace {

// The whole type with its status, so that one read answers both questions
// the batch asks of a code.
constexpr char kFcdRead[] =
    "SELECT   FcdNum, FcdTyp, FcdZwt, FcdStd, FcdSol,   COALESCE(FcdPri, 0), "
    "COALESCE(FcdGpu, 0),    COALESCE(FcdFcd, -9), FcdFlg, FcdSta FROM Qel131Fcd WHERE FcdNum "
    "= '%s' ";

// Message types are configuration the batch never changes, and a night asks
// for the same few codes thousands of times: each code is read once per
// session and kept with the server's answer, so the server's collation still
// decides which type a code names. Past this many codes (an installation
// with types by the thousand) the rest are read each time.
constexpr std::size_t kMaxTypes = 4096;

struct Column {
  bool null = true;
  std::string text;
};
struct Known {
  int rc = 0;       // 0 or END_OF_DATA: what the read answered
  Column col[10];   // the row when rc is 0
};

std::map<std::string, Known> Types;
std::uint64_t TypesSession = 0;

// The type named by code, from memory or from the server. 0, END_OF_DATA or
// the error number (errors are not kept: the next ask reads again).
int Lookup(const char* code, std::size_t cap, const Known*& out) {
  if (TypesSession != Db_Session()) {
    Types.clear();
    TypesSession = Db_Session();
  }
  std::string key(code, std::min(std::strlen(code), cap));
  auto it = Types.find(key);
  if (it != Types.end()) {
    out = &it->second;
    return it->second.rc;
  }
  Known known;
  Sql_Format(kFcdRead, SqlValue<6>(key.c_str()).c_str());
  int rc = Db_ReadRow([&](MYSQL_ROW row) {
    for (int i = 0; i < 10; ++i) {
      known.col[i].null = row[i] == nullptr;
      if (row[i] != nullptr) known.col[i].text = row[i];
    }
  });
  if (rc != 0 && rc != END_OF_DATA) return rc;
  known.rc = rc;
  static Known spare;
  if (Types.size() >= kMaxTypes) {
    spare = known;
    out = &spare;
    return rc;
  }
  out = &Types.emplace(key, known).first->second;
  return rc;
}

const char* Text(const Known& k, int i) { return k.col[i].null ? nullptr : k.col[i].text.c_str(); }

}  // namespace

int Fcd_ReadFlg(const char* code, FixText<4>& flg) {
  // A code longer than its field holds is asked for as the field would cut it.
  const Known* k = nullptr;
  int rc = Lookup(code == nullptr ? "" : code, 5, k);
  if (rc != 0) return rc;
  if (Num_Parse(Text(*k, 9)) >= 4) return END_OF_DATA;  // only an active type answers
  Col_Text(flg, Text(*k, 8));
  return 0;
}

int Fcd_Read(FcdSatz& fcd) {
  const Known* k = nullptr;
  int rc = Lookup(fcd.FcdNum.c_str(), 3, k);
  if (rc != 0) return rc;
  Col_Text(fcd.FcdNum, Text(*k, 0));
  Col_Long(fcd.FcdTyp, Text(*k, 1));
  Col_Long(fcd.FcdZwt, Text(*k, 2));
  Col_Long(fcd.FcdStd, Text(*k, 3));
  Col_Long(fcd.FcdSol, Text(*k, 4));
  Col_Long(fcd.FcdPri, Text(*k, 5));
  Col_Long(fcd.FcdGpu, Text(*k, 6));
  Col_Long(fcd.FcdFcd, Text(*k, 7));
  Col_Text(fcd.FcdFlg, Text(*k, 8));
  return 0;
}
