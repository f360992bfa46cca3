#include "db/lau.h"

#include "db/db.h"

namespace {

constexpr char kLauPresent[] =
    "SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE() AND "
    "TABLE_NAME IN ('Qel950Lau', 'Qel951Lat', 'Qel952Lea')";
// Only plain runs set the catch-up point: a run of chosen nights (--day,
// --from) may have walked a night while earlier ones are missing, or nights
// the batch handled before it had its record.
constexpr char kLauNights[] =
    "SELECT DATE_FORMAT(MAX(LauFer), '%%Y%%m%%d'), DATE_FORMAT(MIN(LauVon), '%%Y%%m%%d') FROM "
    "Qel950Lau WHERE LauOpt NOT LIKE '%%--day=%%' AND LauOpt NOT LIKE '%%--from=%%'";
constexpr char kLauInsert[] =
    "INSERT INTO Qel950Lau (LauVon, LauBis, LauBeg, LauHst, LauOpt, LauSta) VALUES "
    "(NULLIF('%s', ''), NULLIF('%s', ''), NOW(), '%s', '%s', 'running')";
constexpr char kLauNight[] = "UPDATE Qel950Lau SET LauFer = '%s' WHERE LauId = %lld";
constexpr char kLauFinish[] =
    "UPDATE Qel950Lau SET LauEnd = NOW(), LauSta = '%s', LauTge = %ld, LauGef = %ld, "
    "LauGen = %ld, LauSto = %ld, LauFeh = %ld, LauCom = %ld, LauWdh = %ld, LauAuf = %ld, "
    "LauExt = %d WHERE LauId = %lld";
constexpr char kLauCrashed[] =
    "UPDATE Qel950Lau SET LauSta = 'crashed', LauEnd = NOW() WHERE LauSta = 'running'";
constexpr char kLatInsert[] =
    "INSERT INTO Qel951Lat (LatTag, LatPnr, LatLau, LatErg, LatPar) VALUES "
    "('%s', '%s', %lld, '%s', %d) ON DUPLICATE KEY UPDATE LatErg = VALUES(LatErg), "
    "LatPar = VALUES(LatPar)";
constexpr char kLatDays[] =
    "SELECT LatPnr, MAX(LatErg IN ('changed', 'nothing')), MAX(LatErg IN ('open', 'failed')), "
    "MAX(LatPar) FROM Qel951Lat WHERE LatTag = '%s' GROUP BY LatPnr ORDER BY LatPnr";
constexpr char kLatWithdraw[] =
    "UPDATE Qel951Lat SET LatErg = 'withdrawn', LatPar = 1 WHERE LatPnr = '%s' AND LatTag >= "
    "'%s' AND LatErg IN ('changed', 'nothing') AND DATE_FORMAT(LatTag, '%%Y%%m%%d') NOT IN "
    "('%s'%s)";
// Grouped along the primary key's order; only the undone days are sorted.
constexpr char kLatUndone[] =
    "SELECT LatPnr, DATE_FORMAT(LatTag, '%%Y%%m%%d'), MAX(LatErg <> 'held'), MAX(LatPar) FROM "
    "Qel951Lat WHERE LatTag >= '%s' GROUP BY LatTag, LatPnr HAVING MAX(LatErg IN ('changed', "
    "'nothing')) = 0 ORDER BY LatPnr, LatTag";

constexpr char kLeaRead[] =
    "SELECT LeaTok, LeaHst, DATE_FORMAT(LeaHbt, '%%Y-%%m-%%d %%H:%%i:%%s'), LeaHbt < "
    "UTC_TIMESTAMP(6) - INTERVAL %d SECOND FROM Qel952Lea WHERE LeaKey = 'run' FOR UPDATE";
constexpr char kLeaInsert[] =
    "INSERT INTO Qel952Lea (LeaKey, LeaTok, LeaHst, LeaBeg, LeaHbt) VALUES ('run', '%s', '%s', "
    "UTC_TIMESTAMP(6), UTC_TIMESTAMP(6))";
constexpr char kLeaTake[] =
    "UPDATE Qel952Lea SET LeaTok = '%s', LeaHst = '%s', LeaBeg = UTC_TIMESTAMP(6), LeaHbt = "
    "UTC_TIMESTAMP(6) WHERE LeaKey = 'run'";
// Always a change, so a row that is still the holder's is counted even when
// two beats fall in one microsecond.
constexpr char kLeaBeat[] =
    "UPDATE Qel952Lea SET LeaHbt = GREATEST(UTC_TIMESTAMP(6), LeaHbt + INTERVAL 1 MICROSECOND) "
    "WHERE LeaKey = '%s' AND LeaTok = '%s'";
// The rows of a run's workers: each proves the lease with its own row, so
// that the workers' commits do not wait for each other on one row. A
// takeover writes them all, so a worker's commit after it fails as the
// holder's own would.
constexpr char kLeaSlot[] =
    "INSERT INTO Qel952Lea (LeaKey, LeaTok, LeaHst, LeaBeg, LeaHbt) VALUES ('w%d', '%s', '%s', "
    "UTC_TIMESTAMP(6), UTC_TIMESTAMP(6)) ON DUPLICATE KEY UPDATE LeaTok = VALUES(LeaTok), "
    "LeaHst = VALUES(LeaHst), LeaBeg = VALUES(LeaBeg), LeaHbt = VALUES(LeaHbt)";
constexpr char kLeaTakeSlots[] =
    "UPDATE Qel952Lea SET LeaTok = '%s', LeaHst = '%s', LeaHbt = UTC_TIMESTAMP(6) WHERE LeaKey "
    "<> 'run'";
constexpr char kLeaBeatLocked[] =
    "UPDATE Qel952Lea SET LeaHbt = GREATEST(UTC_TIMESTAMP(6), LeaHbt + INTERVAL 1 MICROSECOND) "
    "WHERE LeaKey = '%s' AND LeaTok = '%s' AND IS_USED_LOCK('pirzol.%s') = %lu";
constexpr char kLeaRevoke[] =
    "UPDATE Qel952Lea SET LeaTok = NULL WHERE LeaKey <> 'run' AND LeaTok IS NOT NULL";
constexpr char kLeaFree[] =
    "UPDATE Qel952Lea SET LeaTok = NULL, LeaHbt = UTC_TIMESTAMP(6) WHERE LeaKey = 'run' AND "
    "LeaTok = '%s'";

// Runs the statement just formatted and hands each row's first column to out.
int Column(std::vector<std::string>& out) {
  out.clear();
  Cursor cur{nullptr, nullptr, 0};
  int rc = Cur_OpenFormatted(cur);
  if (rc != 0) return rc;
  MYSQL_ROW row = nullptr;
  while ((rc = Cur_Read(cur, row)) == 0) out.emplace_back(row[0] != nullptr ? row[0] : "");
  (void)Cur_Close(cur);
  return rc == END_OF_DATA ? 0 : rc;
}

long L(std::int32_t n) { return static_cast<long>(n); }

}  // namespace

int Lau_Present() {
  std::vector<std::string> count;
  Sql_Format(kLauPresent);
  int rc = Column(count);
  if (rc != 0) return rc;
  return !count.empty() && Num_Parse(count[0].c_str()) == 3 ? 1 : 0;
}

int Lau_Nights(FixText<9>& newest, FixText<9>& oldest) {
  newest.assign("");
  oldest.assign("");
  Sql_Format(kLauNights);
  return Db_ReadRow([&](MYSQL_ROW row) {
    Col_Text(newest, row[0]);
    Col_Text(oldest, row[1]);
  });
}

int Lau_Insert(const char* first, const char* last, const char* host, const char* options,
               std::int64_t& id) {
  Sql_Format(kLauInsert, SqlValue<9>(first).c_str(), SqlValue<9>(last).c_str(),
             SqlValue<65>(host).c_str(), SqlValue<256>(options).c_str());
  int rc = Db_Aside();
  if (rc == 0) id = static_cast<std::int64_t>(Db_InsertId());
  return rc;
}

int Lau_Night(std::int64_t id, const char* date) {
  Sql_Format(kLauNight, SqlValue<9>(date).c_str(), static_cast<long long>(id));
  return Db_Aside();
}

int Lau_Finish(std::int64_t id, const char* status, const MldCounts& c, int exitStatus) {
  Sql_Format(kLauFinish, SqlValue<11>(status).c_str(), L(c.daysRead), L(c.daysFound),
             L(c.generated), L(c.cancelled), L(c.failures), L(c.commits), L(c.retries),
             L(c.givenUp), exitStatus, static_cast<long long>(id));
  return Db_Aside();
}

int Lau_Crashed() {
  Sql_Format(kLauCrashed);
  return Db_Aside();
}

int Lat_Insert(const char* date, const char* pnr, std::int64_t id, const char* outcome,
               int line) {
  Sql_Format(kLatInsert, SqlValue<9>(date).c_str(), SqlValue<9>(pnr).c_str(),
             static_cast<long long>(id), SqlValue<11>(outcome).c_str(), line != 0 ? 1 : 0);
  return Db_Aside();
}

int Lat_Days(const char* date, std::vector<LatDay>& days) {
  days.clear();
  Sql_Format(kLatDays, SqlValue<9>(date).c_str());
  Cursor cur{nullptr, nullptr, 0};
  int rc = Cur_OpenFormatted(cur);
  if (rc != 0) return rc;
  MYSQL_ROW row = nullptr;
  while ((rc = Cur_Read(cur, row)) == 0) {
    LatDay day{};
    day.pnr = row[0] != nullptr ? row[0] : "";
    day.handled = row[1] != nullptr && Num_Parse(row[1]) != 0 ? 1 : 0;
    day.begun = row[2] != nullptr && Num_Parse(row[2]) != 0 ? 1 : 0;
    day.line = row[3] != nullptr && Num_Parse(row[3]) != 0 ? 1 : 0;
    days.push_back(day);
  }
  (void)Cur_Close(cur);
  return rc == END_OF_DATA ? 0 : rc;
}

int Lat_Withdraw(const char* pnr, const char* date, const std::vector<std::string>& keep) {
  // The days a person's change keeps are few: a correction names them.
  std::string more;
  for (const std::string& day : keep) {
    more += ", '" + std::string(SqlValue<9>(day.c_str()).c_str()) + "'";
  }
  Sql_Format(kLatWithdraw, SqlValue<9>(pnr).c_str(), SqlValue<9>(date).c_str(), "", more.c_str());
  return Db_Aside();
}

int Lat_Undone(const char* since, std::vector<UndoneDay>& days) {
  days.clear();
  Sql_Format(kLatUndone, SqlValue<9>(since).c_str());
  Cursor cur{nullptr, nullptr, 0};
  int rc = Cur_OpenFormatted(cur);
  if (rc != 0) return rc;
  MYSQL_ROW row = nullptr;
  while ((rc = Cur_Read(cur, row)) == 0) {
    UndoneDay day{};
    day.pnr = row[0] != nullptr ? row[0] : "";
    day.date = row[1] != nullptr ? row[1] : "";
    day.root = row[2] != nullptr && Num_Parse(row[2]) != 0 ? 1 : 0;
    day.line = row[3] != nullptr && Num_Parse(row[3]) != 0 ? 1 : 0;
    days.push_back(day);
  }
  (void)Cur_Close(cur);
  return rc == END_OF_DATA ? 0 : rc;
}

int Lea_Read(int staleSeconds, LeaseRow& row) {
  row = LeaseRow{};
  Sql_Format(kLeaRead, staleSeconds);
  return Db_ReadRow([&](MYSQL_ROW r) {
    row.present = 1;
    row.held = r[0] != nullptr ? 1 : 0;
    Col_Text(row.token, r[0]);
    Col_Text(row.host, r[1]);
    Col_Text(row.heartbeat, r[2]);
    row.stale = r[3] != nullptr && Num_Parse(r[3]) != 0 ? 1 : 0;
  });
}

int Lea_Take(int present, const char* token, const char* host) {
  Sql_Format(present != 0 ? kLeaTake : kLeaInsert, SqlValue<97>(token).c_str(),
             SqlValue<65>(host).c_str());
  int rc = Db_Aside();
  if (rc != 0 || present == 0) return rc;
  Sql_Format(kLeaTakeSlots, SqlValue<97>(token).c_str(), SqlValue<65>(host).c_str());
  return Db_Aside();
}

int Lea_Slots(int count, const char* token, const char* host) {
  for (int k = 1; k <= count; ++k) {
    Sql_Format(kLeaSlot, k, SqlValue<97>(token).c_str(), SqlValue<65>(host).c_str());
    int rc = Db_Aside();
    if (rc != 0) return rc;
  }
  return 0;
}

namespace {

// The lease is bookkeeping: writing it must not count as a unit's change.
int LeaseChange() {
  int rc = Db_Aside();
  if (rc != 0) return rc;
  return Db_AffectedRows() == 0 ? DB_NO_ROW_CHANGED : 0;
}

}  // namespace

int Lea_Beat(const char* key, const char* token) {
  Sql_Format(kLeaBeat, SqlValue<9>(key).c_str(), SqlValue<97>(token).c_str());
  return LeaseChange();
}

int Lea_BeatLocked(const char* key, const char* token, const char* lockName,
                   unsigned long connId) {
  Sql_Format(kLeaBeatLocked, SqlValue<9>(key).c_str(), SqlValue<97>(token).c_str(),
             SqlValue<21>(lockName).c_str(), connId);
  return LeaseChange();
}

int Lea_Revoke() {
  Sql_Format(kLeaRevoke);
  return Db_Aside();
}

int Lea_Free(const char* token) {
  Sql_Format(kLeaFree, SqlValue<97>(token).c_str());
  return LeaseChange();
}
