// Result codes of the batch's own functions, in one place. 0 is success;
// every other positive value a function returns is the client's or the
// server's error number (1062 duplicate key, 1205 lock wait timeout, 1213
// deadlock, 2006 and 2013 a lost connection, ...). The batch's own codes are
// negative, apart from END_OF_DATA, which keeps the number operators know
// from the log.
#ifndef PIRZOL_BASE_RESULT_H_
#define PIRZOL_BASE_RESULT_H_

// No further row: every stored row has been handed out.
constexpr int END_OF_DATA = 1032;
// The cursor holds no result: never opened, its statement refused, or a
// statement without a result set.
constexpr int DB_NO_RESULT = -1;
// An update matched no row, or wrote the values the row already held. It
// shares -1 with DB_NO_RESULT because the log has always shown it so
// ("RC:-1"); no function returns both.
constexpr int DB_NO_ROW_CHANGED = -1;
// Db_Connect: connected, but the server compares table names case-sensitively,
// so the statements that spell one table two ways would fail.
constexpr int DB_CASE_SENSITIVE = -2;
// Db_Lock: another session holds the run lock.
constexpr int DB_LOCKED = -3;
// TagAkt_Read: the row's personnel number is longer than TagPnr holds.
constexpr int TAG_PNR_TOO_LONG = -4;
// A configuration value longer than the buffer the connection takes it into.
constexpr int PZL_VALUE_TOO_LONG = -5;
// The transaction was lost with the connection, or its COMMIT was refused:
// nothing since the last COMMIT is kept, and the run cannot go on.
constexpr int DB_TXN_LOST = -6;
// A unit of work failed on every try and was rolled back for good.
constexpr int UNIT_GIVEN_UP = -7;
// The working folder is locked by another run.
constexpr int PZL_FOLDER_LOCKED = -8;
// An option after the three parameters that the batch does not know, or
// whose value it cannot take.
constexpr int PZL_BAD_OPTION = -9;
// A night asked for that has not ended yet on the server's clock.
constexpr int PZL_FUTURE_DATE = -10;
// More nights are due than a run handles without a person deciding.
constexpr int PZL_TOO_MANY_NIGHTS = -11;
// On a cluster: a live run on some node holds the database's lease.
constexpr int PZL_LEASE_HELD = -12;
// On a cluster: the lease this run held was taken over; it must stop.
constexpr int PZL_LEASE_LOST = -13;
// A symbolic link stands where the batch opens a file of its working folder
// (its log, its lock): it is not followed.
constexpr int PZL_LINKED = -14;
// The option file asks for TLS and the session is not encrypted (the server
// offers none, or it was stripped on the way): refused, never run in clear.
constexpr int DB_NO_TLS = -20;

// The server's duplicate-key error.
constexpr int DB_DUPLICATE = 1062;
// The server's answers that roll back work which may succeed when redone:
// a deadlock (on a cluster also a certification conflict) and a lock wait
// that ran out.
constexpr int DB_DEADLOCK = 1213;
constexpr int DB_LOCK_WAIT = 1205;

#endif  // PIRZOL_BASE_RESULT_H_
