#include "db/db.h"

#include <unistd.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/exitcodes.h"

namespace {

// The one statement text buffer; valid until the next statement is formatted.
char SqlText[kSqlTextSize];

MYSQL DbHandle;
bool DbInitialised = false;
int DbErrNo = 0;
const char* DbErrText = "";
// The transaction since the last COMMIT or ROLLBACK.
bool TxnChanged = false;
bool TxnWrote = false;  // any row written since the transaction began, bookkeeping too
std::uint64_t ChangeCount = 0;
std::uint64_t Sessions = 0;
std::uint64_t TxnEnds = 0;
bool Aside = false;
int TxnError = 0;
char TxnErrText[160] = {};

// What the last Db_Connect was given, for a child's session of its own.
struct ConnectArgs {
  std::string user, pwd, host, database, defaultsFile;
  bool withDefaults = false;
};
ConnectArgs LastConnect;

constexpr char kSetAutocommit[] = "SET AUTOCOMMIT = 0";
// The option file group of the batch's own, read beside [client].
constexpr char kOptionGroup[] = "pirzol";
// A lock held by a terminal's session must not hold the night up for the
// server's default of 50 s per statement; a shorter setting of the server's
// own is kept.
constexpr char kSetLockWait[] =
    "SET SESSION innodb_lock_wait_timeout = LEAST(@@GLOBAL.innodb_lock_wait_timeout, 10)";
constexpr char kCommit[] = "COMMIT";
constexpr char kRollback[] = "ROLLBACK";
constexpr char kTableCase[] = "SELECT @@lower_case_table_names";
constexpr char kGetLock[] = "SELECT GET_LOCK('pirzol.%s', 0)";
constexpr char kLockHeld[] = "SELECT IS_USED_LOCK('pirzol.%s') = CONNECTION_ID()";
bool OnCluster = false;  // what Db_Clustered last found
std::string LockName;  // the database whose run lock Db_Lock took
constexpr char kYesterday[] = "SELECT DATE_FORMAT(CURDATE() - INTERVAL 1 DAY, '%%Y%%m%%d')";

// Answers after which the server no longer holds the transaction and the
// session cannot go on: the connection is gone or was killed, the server is
// shutting down, or a cluster node has left the primary component.
bool LostSession(int rc) {
  return rc == 2006 || rc == 2013 || rc == 2055 || rc == 1927 || rc == 1053 || rc == 1047;
}

// InnoDB rolls the whole transaction back when its lock table is full; the
// statements after it would run in a new one, half a unit without the rest.
constexpr int kLockTableFull = 1206;

void RecordError() {
  DbErrNo = static_cast<int>(mysql_errno(&DbHandle));
  DbErrText = mysql_error(&DbHandle);
  if (TxnError == 0 &&
      (Db_Retryable(DbErrNo) != 0 || LostSession(DbErrNo) || DbErrNo == kLockTableFull)) {
    TxnError = DbErrNo;
    std::snprintf(TxnErrText, sizeof TxnErrText, "%s", DbErrText);
  }
}

// Whether the option file asks for TLS: an ssl option (ssl, ssl-ca,
// ssl-verify-server-cert, ...) in a group the client reads from it, not
// switched off by a value of 0 or off. The client alone would fall back to a
// plain session with a server that offers no TLS, sending the password and
// the persons' days in clear.
bool AsksForTls(const char* path) {
  std::FILE* f = path != nullptr ? std::fopen(path, "re") : nullptr;
  if (f == nullptr) return false;
  bool asked = false, inGroup = false;
  char line[1024];
  while (!asked && std::fgets(line, sizeof line, f) != nullptr) {
    std::string text = line;
    std::size_t b = text.find_first_not_of(" \t");
    std::size_t e = text.find_last_not_of(" \t\r\n");
    if (b == std::string::npos || text[b] == '#' || text[b] == ';') continue;
    text = text.substr(b, e - b + 1);
    if (text[0] == '[') {
      std::string group = text.substr(1, text.find(']') - 1);
      inGroup = group == "client" || group == "client-server" || group == "client-mariadb" ||
                group == kOptionGroup;
      continue;
    }
    if (!inGroup) continue;
    std::size_t eq = text.find('=');
    std::string key = text.substr(0, eq), value = eq == std::string::npos ? "" : text.substr(eq + 1);
    key.erase(key.find_last_not_of(" \t") + 1);
    value.erase(0, value.find_first_not_of(" \t"));
    for (char& c : key) c = c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (key.compare(0, 6, "loose-") == 0) key.erase(0, 6);
    if (key != "ssl" && key.compare(0, 4, "ssl-") != 0) continue;
    asked = value != "0" && value != "off" && value != "false";
  }
  std::fclose(f);
  return asked;
}

bool Encrypted = false;  // the last session that connected runs over TLS

// Ends a session that connected but cannot be run as the batch needs it:
// the server's error number, its text naming what was refused.
int Refused(const char* what) {
  static char text[256];
  std::snprintf(text, sizeof text, "%s refused: %s", what, mysql_error(&DbHandle));
  int rc = static_cast<int>(mysql_errno(&DbHandle));
  if (rc == 0) rc = 2000;  // the client's "unknown error": a refusal is never 0
  Db_Disconnect();
  DbErrNo = rc;
  DbErrText = text;
  return rc;
}

// Sends a statement that ends the transaction, whatever error stands.
int SendEnd(const char* text) {
  if (!DbInitialised) {
    DbErrNo = 2006;
    DbErrText = "not connected";
    TxnError = DbErrNo;
    std::snprintf(TxnErrText, sizeof TxnErrText, "%s", DbErrText);
    return DbErrNo;
  }
  if (mysql_real_query(&DbHandle, text, std::strlen(text)) != 0) {
    RecordError();
    return DbErrNo;
  }
  return 0;
}

}  // namespace

int Db_Connect(const char* user, const char* pwd, const char* host, const char* database,
               const char* defaultsFile) {
  if (user != LastConnect.user.c_str()) {  // not a child's connect with the saved values
    LastConnect.user = user != nullptr ? user : "";
    LastConnect.pwd = pwd != nullptr ? pwd : "";
    LastConnect.host = host != nullptr ? host : "";
    LastConnect.database = database != nullptr ? database : "";
    LastConnect.withDefaults = defaultsFile != nullptr;
    LastConnect.defaultsFile = defaultsFile != nullptr ? defaultsFile : "";
  }
  if (mysql_init(&DbHandle) == nullptr) {
    // Without a handle there is nothing to ask; out of memory is the one cause.
    DbErrNo = 2008;
    DbErrText = "the database client ran out of memory";
    return DbErrNo;
  }
  DbInitialised = true;
  ++Sessions;
  TxnChanged = false;
  TxnWrote = false;
  TxnError = 0;
  // Bounded waits: a batch that hangs on a dead server holds up the night.
  unsigned int connectTimeout = 30;
  unsigned int ioTimeout = 600;
  mysql_options(&DbHandle, MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeout);
  mysql_options(&DbHandle, MYSQL_OPT_READ_TIMEOUT, &ioTimeout);
  mysql_options(&DbHandle, MYSQL_OPT_WRITE_TIMEOUT, &ioTimeout);
  // Every record field holds bytes, and the log writes Windows-1252, which
  // the server calls latin1; with the client's default utf8mb4 a code like
  // "\xDCSt" would arrive as four bytes and be cut.
  mysql_options(&DbHandle, MYSQL_SET_CHARSET_NAME, "latin1");
  if (defaultsFile != nullptr) {
    // Read by the client when it connects; only this file, none of the
    // machine's own, whose settings nobody looking at the batch would see.
    mysql_optionsv(&DbHandle, MYSQL_READ_DEFAULT_FILE, defaultsFile);
    mysql_optionsv(&DbHandle, MYSQL_READ_DEFAULT_GROUP, kOptionGroup);
  }
  const bool tls = AsksForTls(defaultsFile);
  if (tls) {
    my_bool enforce = 1;
    mysql_optionsv(&DbHandle, MYSQL_OPT_SSL_ENFORCE, &enforce);
  }
  const char* db = (database == nullptr || database[0] == '\0') ? nullptr : database;
  if (mysql_real_connect(&DbHandle, host, user, pwd, db, 0, nullptr, 0) == nullptr) {
    RecordError();
    return DbErrNo;
  }
  // Asked of the session, not of the settings: whatever the client did, a
  // session without a cipher is in clear.
  Encrypted = mysql_get_ssl_cipher(&DbHandle) != nullptr;
  if (tls && !Encrypted) {
    Db_Disconnect();
    DbErrNo = DB_NO_TLS;
    DbErrText = "the option file asks for TLS, but the session is not encrypted";
    return DB_NO_TLS;
  }
  // An option file's default-character-set would replace the one set above.
  if (std::strcmp(mysql_character_set_name(&DbHandle), "latin1") != 0 &&
      mysql_set_character_set(&DbHandle, "latin1") != 0) {
    return Refused("the character set latin1");
  }
  // With autocommit on, every statement of a unit of work would be kept on
  // its own and a rollback would undo nothing: half a follow-up would stay.
  Cursor set{kSetAutocommit, nullptr, 0};
  if (Cur_Open(set) != 0) return Refused(kSetAutocommit);
  Cursor wait{kSetLockWait, nullptr, 0};
  (void)Cur_Open(wait);  // a server without InnoDB has no lock waits to bound

  Cursor cs{kTableCase, nullptr, 0};
  MYSQL_ROW row = nullptr;
  int rc = Cur_Open(cs);
  if (rc == 0) rc = Cur_Read(cs, row);
  bool caseless = rc == 0 && row[0] != nullptr && Num_Parse(row[0]) != 0;
  (void)Cur_Close(cs);
  if (!caseless) return DB_CASE_SENSITIVE;
  return 0;
}

int Db_Encrypted() { return Encrypted ? 1 : 0; }

void Db_Disconnect() {
  if (!DbInitialised) return;
  mysql_close(&DbHandle);
  DbInitialised = false;
}

int Db_ConnectChild() {
  if (DbInitialised) {
    // Closing the handle would send the server the parent's goodbye (and a
    // TLS close) on the parent's socket; this side's descriptor alone is
    // closed, and what the handle holds is left to the process's end.
    my_socket fd = mysql_get_socket(&DbHandle);
    if (fd >= 0) close(fd);
    DbInitialised = false;
  }
  const ConnectArgs& a = LastConnect;
  return Db_Connect(a.user.c_str(), a.pwd.c_str(), a.host.c_str(), a.database.c_str(),
                    a.withDefaults ? a.defaultsFile.c_str() : nullptr);
}

const char* Db_LockName() { return LockName.c_str(); }
unsigned long Db_SessionId() {
  return DbInitialised ? static_cast<unsigned long>(mysql_thread_id(&DbHandle)) : 0;
}

int Db_LockHeld() {
  Sql_Format(kLockHeld, SqlValue<21>(LockName.c_str()).c_str());
  int held = 0;
  int rc = Db_ReadRow([&](MYSQL_ROW row) { held = row[0] != nullptr && Num_Parse(row[0]) == 1; });
  return rc == 0 ? held : 0;
}

int Db_Lock(const char* database) {
  LockName = database;
  Sql_Format(kGetLock, SqlValue<21>(database).c_str());
  int answer = 0;
  int rc = Db_ReadRow([&](MYSQL_ROW row) {
    // NULL answers an error inside the server, such as running out of memory.
    answer = row[0] == nullptr ? DB_NO_RESULT : Num_Parse(row[0]) != 1 ? DB_LOCKED : 0;
  });
  return rc != 0 ? rc : answer;
}

int Db_Clustered() {
  Sql_Format("SELECT @@wsrep_on");
  int on = 0;
  // A server without the variable is no cluster node.
  if (Db_ReadRow([&](MYSQL_ROW row) { on = row[0] != nullptr && Num_Parse(row[0]) == 1; }) != 0) {
    (void)Db_Rollback();  // the refused statement must not stand as the transaction's error
    return 0;
  }
  OnCluster = on != 0;
  return on;
}

int Db_CatchUp() {
  if (!OnCluster) return 0;
  // The node waits before a read that begins a transaction (inside one it
  // would not); the setting holds for this statement alone, and a read
  // without tables leaves the transaction still to begin.
  Sql_Format("SET STATEMENT wsrep_sync_wait = 1 FOR SELECT 1");
  return Db_ReadRow([](MYSQL_ROW) {});
}

int Db_Commit() {
  ++TxnEnds;
  if (TxnError != 0) return 0;  // the server no longer holds what it would commit
  if (SendEnd(kCommit) != 0) {
    // Whatever the server answered, what the transaction did is not known to
    // be kept; a refused COMMIT that is not worth redoing ends the run.
    if (TxnError == 0) {
      TxnError = DbErrNo;
      std::snprintf(TxnErrText, sizeof TxnErrText, "%s", DbErrText);
    }
    return 0;
  }
  TxnChanged = false;
  TxnWrote = false;
  return 1;
}

int Db_Rollback() {
  ++TxnEnds;
  TxnChanged = false;
  TxnWrote = false;
  if (LostSession(TxnError)) return 0;  // a lost session stays lost
  TxnError = 0;
  return SendEnd(kRollback) == 0 ? 1 : 0;
}

int Db_TxnChanged() { return TxnChanged ? 1 : 0; }
int Db_TxnWrote() { return TxnWrote ? 1 : 0; }
std::uint64_t Db_Session() { return Sessions; }
std::uint64_t Db_TxnSeq() { return TxnEnds + (Sessions << 32); }
std::uint64_t Db_ChangeCount() { return ChangeCount; }

int Cur_OpenFormatted(Cursor& cur) {
  cur.text = SqlText;
  return Cur_Open(cur);
}

int Db_Exec() {
  Cursor cur{nullptr, nullptr, 0};
  int rc = Cur_OpenFormatted(cur);
  (void)Cur_Close(cur);  // a change stores no result; a SELECT's is not wanted here
  return rc;
}

int Db_Aside() {
  Aside = true;
  int rc = Db_Exec();
  Aside = false;
  return rc;
}

int Db_Change() {
  int rc = Db_Exec();
  if (rc != 0) return rc;
  // The server counts changed rows only: writing the stored values again counts 0.
  return Db_AffectedRows() == 0 ? DB_NO_ROW_CHANGED : 0;
}

const char* Sql_DateKey(int slot, const char* column, const char* op, const char* value) {
  static char text[4][64];
  char* out = text[slot & 3];
  out[0] = '\0';
  if (value == nullptr || std::strlen(value) != 8) return out;
  for (int i = 0; i < 8; ++i) {
    if (value[i] < '0' || value[i] > '9') return out;
  }
  // Digits that name no month or day would be turned into some other date by
  // the server, and the comparison beside the described one would then
  // decide on its own.
  const int month = (value[4] - '0') * 10 + (value[5] - '0');
  const int day = (value[6] - '0') * 10 + (value[7] - '0');
  if (month < 1 || month > 12 || day < 1 || day > 31) return out;
  std::snprintf(out, sizeof text[0], " AND %s %s '%s'", column, op, value);
  return out;
}
int Db_TxnError() { return TxnError; }
int Db_Retryable(int rc) { return rc == DB_DEADLOCK || rc == DB_LOCK_WAIT ? 1 : 0; }

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
  if (TxnError != 0) {
    // Sent now, the statement would start a new transaction behind the lost
    // one and do its part of a unit of work without the rest.
    DbErrNo = TxnError;
    DbErrText = TxnErrText;
    return TxnError;
  }
  if (mysql_real_query(&DbHandle, cur.text, std::strlen(cur.text)) != 0) {
    RecordError();
    return DbErrNo;
  }
  cur.result = mysql_store_result(&DbHandle);
  DbErrNo = static_cast<int>(mysql_errno(&DbHandle));
  if (DbErrNo != 0) {
    // The number, not a bare failure: a connection lost while the rows came
    // must end the run like one lost on sending.
    RecordError();
    if (cur.result != nullptr) mysql_free_result(cur.result);
    cur.result = nullptr;
    return DbErrNo;
  }
  if (cur.result == nullptr && mysql_field_count(&DbHandle) == 0) {
    my_ulonglong n = mysql_affected_rows(&DbHandle);
    if (n != 0 && n != static_cast<my_ulonglong>(-1)) {
      TxnWrote = true;
      if (!Aside) {
        TxnChanged = true;
        ++ChangeCount;
      }
    }
  }
  return 0;
}

int Cur_Read(Cursor& cur, MYSQL_ROW& row) {
  if (cur.result == nullptr) return DB_NO_RESULT;
  if (static_cast<std::uint64_t>(cur.rows) >= mysql_num_rows(cur.result)) return END_OF_DATA;
  row = mysql_fetch_row(cur.result);
  // A row handed out of a stored result is a success whatever the handle
  // says: its error number is still that of the last failed statement, and
  // taking it here would end the caller's walk over its rows, the batch's
  // walk over the day records included, because a statement in between was
  // refused.
  if (row == nullptr) {
    RecordError();
    // A stored result has its rows on the client; a fetch that fails anyway
    // is out of memory, which the client may not number.
    return DbErrNo != 0 ? DbErrNo : 2008;
  }
  DbErrNo = 0;
  ++cur.rows;
  return 0;
}

int Cur_Close(Cursor& cur) {
  if (cur.result == nullptr) return DB_NO_RESULT;
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

std::uint64_t Db_InsertId() { return DbInitialised ? mysql_insert_id(&DbHandle) : 0; }

int Db_ErrNo() { return DbErrNo; }
const char* Db_ErrText() { return DbErrText; }

int Db_Yesterday(FixText<9>& day) {
  Sql_Format(kYesterday);
  return Db_ReadRow([&](MYSQL_ROW row) { Col_Text(day, row[0]); });
}

const char* Sql_Last() { return SqlText; }

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
