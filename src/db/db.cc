#include "db/db.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "run/exitcodes.h"

char SqlText[kSqlTextSize];

namespace {

MYSQL DbHandle;
bool DbInitialised = false;
int DbErrNo = 0;
const char* DbErrText = "";

constexpr char kSetAutocommit[] = "SET AUTOCOMMIT = 0";
constexpr char kCommit[] = "COMMIT";
constexpr char kTableCase[] = "SELECT @@lower_case_table_names";
constexpr char kGetLock[] = "SELECT GET_LOCK('pirzol.%s', 0)";

void RecordError() {
  DbErrNo = static_cast<int>(mysql_errno(&DbHandle));
  DbErrText = mysql_error(&DbHandle);
}

}  // namespace

int Db_Connect(const char* user, const char* pwd, const char* host, const char* database) {
  if (mysql_init(&DbHandle) == nullptr) {
    // Without a handle there is nothing to ask; out of memory is the one cause.
    DbErrNo = 2008;
    DbErrText = "MySQL client ran out of memory";
    return DbErrNo;
  }
  DbInitialised = true;
  // Bounded waits: a batch that hangs on a dead server holds up the night.
  unsigned int connectTimeout = 30;
  unsigned int ioTimeout = 600;
  mysql_options(&DbHandle, MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeout);
  mysql_options(&DbHandle, MYSQL_OPT_READ_TIMEOUT, &ioTimeout);
  mysql_options(&DbHandle, MYSQL_OPT_WRITE_TIMEOUT, &ioTimeout);
  const char* db = (database == nullptr || database[0] == '\0') ? nullptr : database;
  if (mysql_real_connect(&DbHandle, host, user, pwd, db, 0, nullptr, 0) == nullptr) {
    RecordError();
    return DbErrNo;
  }
  Cursor set{kSetAutocommit, nullptr, 0};
  (void)Cur_Open(set);  // a refused SET leaves autocommit as the server has it

  Cursor cs{kTableCase, nullptr, 0};
  MYSQL_ROW row = nullptr;
  int rc = Cur_Open(cs);
  if (rc == 0) rc = Cur_Read(cs, row);
  bool caseless = rc == 0 && row[0] != nullptr && Num_Parse(row[0]) != 0;
  (void)Cur_Close(cs);
  if (!caseless) return DB_CASE_SENSITIVE;
  return 0;
}

void Db_Disconnect() {
  if (!DbInitialised) return;
  mysql_close(&DbHandle);
  DbInitialised = false;
}

int Db_Lock(const char* database) {
  Sql_Format(kGetLock, SqlValue<21>(database).c_str());
  Cursor cur{SqlText, nullptr, 0};
  int rc = Cur_Open(cur);
  if (rc != 0) return rc;
  MYSQL_ROW row = nullptr;
  rc = Cur_Read(cur, row);
  if (rc == 0) {
    // NULL answers an error inside the server, such as running out of memory.
    if (row[0] == nullptr) rc = -1;
    else if (Num_Parse(row[0]) != 1) rc = DB_LOCKED;
  }
  (void)Cur_Close(cur);
  return rc;
}

int Db_Commit() {
  Cursor cur{kCommit, nullptr, 0};
  return Cur_Open(cur) == 0 ? 1 : 0;
}

int Cur_Open(Cursor& cur) {
  // A result still held is freed rather than forgotten: nothing the run
  // stores may outlive its cursor.
  if (cur.result != nullptr) mysql_free_result(cur.result);
  cur.result = nullptr;
  cur.rows = 0;
  if (!DbInitialised) {
    DbErrNo = 2006;
    DbErrText = "not connected";
    return DbErrNo;
  }
  if (mysql_real_query(&DbHandle, cur.text, std::strlen(cur.text)) != 0) {
    RecordError();
    return DbErrNo;
  }
  cur.result = mysql_store_result(&DbHandle);
  DbErrNo = static_cast<int>(mysql_errno(&DbHandle));
  if (DbErrNo != 0) {
    DbErrText = mysql_error(&DbHandle);
    if (cur.result != nullptr) mysql_free_result(cur.result);
    cur.result = nullptr;
    return -1;
  }
  return 0;
}

int Cur_Read(Cursor& cur, MYSQL_ROW& row) {
  if (cur.result == nullptr) return -1;
  if (static_cast<std::uint64_t>(cur.rows) >= mysql_num_rows(cur.result)) return END_OF_DATA;
  row = mysql_fetch_row(cur.result);
  // A row handed out of a stored result is a success whatever the handle
  // says: its error number is still that of the last failed statement, and
  // taking it here would end the caller's walk over its rows, the batch's
  // walk over the day records included, because a statement in between was
  // refused.
  DbErrNo = row == nullptr ? static_cast<int>(mysql_errno(&DbHandle)) : 0;
  if (row == nullptr) {
    DbErrText = mysql_error(&DbHandle);
    return -1;
  }
  ++cur.rows;
  return 0;
}

int Cur_Close(Cursor& cur) {
  if (cur.result == nullptr) return -1;
  mysql_free_result(cur.result);
  cur.result = nullptr;
  cur.rows = 0;
  return 0;
}

std::uint64_t Db_AffectedRows() {
  if (!DbInitialised) return 0;
  my_ulonglong n = mysql_affected_rows(&DbHandle);
  // The client answers (my_ulonglong)-1 after a failed statement: nothing changed.
  return n == static_cast<my_ulonglong>(-1) ? 0 : n;
}

int Db_ErrNo() { return DbErrNo; }
const char* Db_ErrText() { return DbErrText; }

void Sql_Format(const char* tmpl, ...) {
  std::va_list ap;
  va_start(ap, tmpl);
  int n = std::vsnprintf(SqlText, kSqlTextSize, tmpl, ap);
  va_end(ap);
  if (n < 0 || static_cast<std::size_t>(n) >= kSqlTextSize) std::exit(kExitOverflow);
}

void Db_Escape(char* to, const char* from, std::size_t len) {
  if (DbInitialised) {
    mysql_real_escape_string(&DbHandle, to, from, static_cast<unsigned long>(len));
  } else {
    // Before a session exists no statement can run; escape the common way
    // so the text is still safe wherever it ends up.
    mysql_escape_string(to, from, static_cast<unsigned long>(len));
  }
}
