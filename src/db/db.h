// The one client session with the database server, statements with stored
// results read through cursors, and the statement formatter and escape that
// every record unit builds its statements with.
#ifndef PIRZOL_DB_DB_H_
#define PIRZOL_DB_DB_H_

#include <mysql.h>

#include <cstddef>
#include <cstdint>

#include "base/fixtext.h"
#include "base/result.h"

// The statement text buffer of Sql_Format holds this many characters,
// terminator included.
constexpr std::size_t kSqlTextSize = 1000;

struct Cursor {
  const char* text;    // statement to run; not owned
  MYSQL_RES* result;   // stored result, owned from Cur_Open to Cur_Close
  std::int32_t rows;   // rows handed out since the cursor was opened
};

// Connects with autocommit off, the character set latin1 (the records hold
// single-byte Windows-1252 text) and lock waits bounded to 10 s. Returns 0,
// the client's or server's error number (also when autocommit cannot be
// turned off: the session is then closed), or DB_CASE_SENSITIVE. An empty
// database name connects without a default one. With defaultsFile the
// client reads that option file's groups [client] and [pirzol] (port,
// socket, TLS); user, pwd, host and database given here win over it. When
// the file asks for TLS (any ssl option), a session that is not encrypted is
// closed and answers DB_NO_TLS.
[[nodiscard]] int Db_Connect(const char* user, const char* pwd, const char* host,
                             const char* database, const char* defaultsFile = nullptr);
// 1 when the session Db_Connect last opened runs over TLS, else 0.
[[nodiscard]] int Db_Encrypted();
// Ends the session: nothing that was not committed is kept by the server.
void Db_Disconnect();
// In a child process: leaves the session it inherited to the parent, with
// no word to the server, and connects one of its own as Db_Connect last
// did. 0 or the error number.
[[nodiscard]] int Db_ConnectChild();
// Changes with every COMMIT, ROLLBACK and session: what was read under one
// value was read in the same transaction as what is read under it again.
[[nodiscard]] std::uint64_t Db_TxnSeq();
// Counts the sessions connected so far: what a unit keeps from one session
// it must read again in the next.
[[nodiscard]] std::uint64_t Db_Session();
// Takes the server's named lock "pirzol.<database>" without waiting: one run
// at a time per database. The lock goes with the session. 0, DB_LOCKED, or
// the server's error.
[[nodiscard]] int Db_Lock(const char* database);
// The database whose lock Db_Lock took, and this session's id on the server
// (what IS_USED_LOCK answers for the lock while this session holds it).
[[nodiscard]] const char* Db_LockName();
[[nodiscard]] unsigned long Db_SessionId();
// 1 while this session still holds the lock Db_Lock took; 0 when it does
// not, or the session cannot answer.
[[nodiscard]] int Db_LockHeld();
// 1 when the server is a node of a replicating cluster (wsrep_on), else 0.
[[nodiscard]] int Db_Clustered();
// On a cluster node (as Db_Clustered last found): waits, before the session's
// next transaction, until the node has applied every commit the cluster made
// before it; sessions that one address spreads over several nodes then read
// what the others committed. Elsewhere nothing. 0 or the error number.
[[nodiscard]] int Db_CatchUp();
// Sends COMMIT. Returns 1 when the server accepted it, 0 when not; a refused
// COMMIT leaves its error as the transaction's (Db_TxnError).
[[nodiscard]] int Db_Commit();
// Sends ROLLBACK. Returns 1 when the server accepted it, 0 when not.
int Db_Rollback();

// The transaction since the last COMMIT or ROLLBACK: 1 when a statement of it
// changed a row, else 0.
[[nodiscard]] int Db_TxnChanged();
// 1 when a statement since the last COMMIT or ROLLBACK wrote a row, the
// batch's own bookkeeping (Db_Aside) included: a COMMIT now would keep something.
[[nodiscard]] int Db_TxnWrote();
// Statements that changed a row since the connect, never going back: a unit
// of work tells its own changes by the difference.
[[nodiscard]] std::uint64_t Db_ChangeCount();
// Runs the statement Sql_Format made last, a change of the batch's own
// bookkeeping: it goes with the transaction but calls for no COMMIT of its
// own (Db_TxnChanged and Db_ChangeCount do not count it). 0 or the error.
[[nodiscard]] int Db_Aside();
// Runs the change Sql_Format made last: 0 when it changed a row,
// DB_NO_ROW_CHANGED when none (rows written with their own values do not
// count), else the error number.
[[nodiscard]] int Db_Change();
// Runs the statement Sql_Format made last, whatever it changes: 0 or the error.
[[nodiscard]] int Db_Exec();
// The first error since the last COMMIT or ROLLBACK that took the
// transaction's work with it, or 0. While one stands no statement is sent:
// each answers that error at once, because its work would be lost as well.
[[nodiscard]] int Db_TxnError();
// Whether an error number means work that may succeed when redone (deadlock,
// certification conflict, lock wait timeout): 1 or 0.
[[nodiscard]] int Db_Retryable(int rc);

// Runs the cursor's statement and stores its whole result on the client: 0,
// or the client's or server's error number.
[[nodiscard]] int Cur_Open(Cursor& cur);
// Cur_Open of the statement Sql_Format made last.
[[nodiscard]] int Cur_OpenFormatted(Cursor& cur);
// Hands out the next stored row: 0, END_OF_DATA, DB_NO_RESULT, or the
// client's error number when fetching failed.
[[nodiscard]] int Cur_Read(Cursor& cur, MYSQL_ROW& row);
// Frees the stored result: 0, or DB_NO_RESULT when there was none.
int Cur_Close(Cursor& cur);
// The AUTO_INCREMENT value the last INSERT gave its row.
std::uint64_t Db_InsertId();
// Rows the last statement changed (rows written with their own values do not count).
std::uint64_t Db_AffectedRows();
// The client's error number and message of the last failure recorded.
int Db_ErrNo();
const char* Db_ErrText();
// The server's yesterday as YYYYMMDD into day: 0 or the error number.
[[nodiscard]] int Db_Yesterday(FixText<9>& day);

// Formats into SqlText. A statement that does not fit ends the run with
// status 1: a cut statement could change the wrong rows.
[[gnu::format(printf, 1, 2)]] void Sql_Format(const char* tmpl, ...);

// The statement Sql_Format made last, read-only: for a failure's report and
// for tests that look at what the server was sent.
const char* Sql_Last();

// Escapes len bytes of from into to (room for 2*len+1) through the live
// session, so the server's quoting mode is respected.
void Db_Escape(char* to, const char* from, std::size_t len);

// A text value escaped through the session, for a '%s' between quotes.
// Escaping may double every byte, so N-1 characters need 2*(N-1)+1 bytes.
template <std::size_t N>
class SqlValue {
 public:
  explicit SqlValue(const FixText<N>& text) { Db_Escape(buf_, text.c_str(), text.size()); }
  // A plain text is cut to the N-1 characters its field could hold.
  explicit SqlValue(const char* text) {
    std::size_t n = 0;
    while (text != nullptr && n < N - 1 && text[n] != '\0') ++n;
    Db_Escape(buf_, text == nullptr ? "" : text, n);
  }
  const char* c_str() const { return buf_; }

 private:
  char buf_[2 * (N - 1) + 1] = {};
};
template <std::size_t N>
SqlValue(const FixText<N>&) -> SqlValue<N>;

// Runs the statement Sql_Format made last and hands its first row to map
// (a callable taking the MYSQL_ROW): 0, END_OF_DATA, or the error number.
// The one place where a record unit reads a single row.
template <typename Map>
[[nodiscard]] int Db_ReadRow(Map&& map) {
  Cursor cur{nullptr, nullptr, 0};
  int rc = Cur_OpenFormatted(cur);
  if (rc != 0) return rc;
  MYSQL_ROW row = nullptr;
  rc = Cur_Read(cur, row);
  if (rc == 0) map(row);
  (void)Cur_Close(cur);
  return rc;
}

// A condition on a date column beside its DATE_FORMAT comparison, so that a
// key finds the rows: " AND column op 'value'" when value is a date of eight
// digits, else "" (the DATE_FORMAT comparison alone then decides, as it
// always did). The text lives until the next call with the same slot.
const char* Sql_DateKey(int slot, const char* column, const char* op, const char* value);

// Copies a result column into a field; a NULL column leaves the field alone.
template <std::size_t N>
void Col_Text(FixText<N>& field, const char* col) {
  if (col != nullptr) field.assign(col);
}
inline void Col_Long(std::int32_t& field, const char* col) {
  if (col != nullptr) field = Num_Parse(col);
}

#endif  // PIRZOL_DB_DB_H_
