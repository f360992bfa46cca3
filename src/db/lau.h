// The batch's run record: runs of Qel950Lau and the accounted days each
// handled, Qel951Lat. Whether a night is due and whether a day was handled
// already is read here; what a run did is written here.
#ifndef PIRZOL_DB_LAU_H_
#define PIRZOL_DB_LAU_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/fixtext.h"
#include "base/counts.h"

// 1 when both record tables exist in the session's database, 0 when not, or
// the server's error number.
[[nodiscard]] int Lau_Present();
// The newest night a plain run (no --day, no --from) completed, and the
// first date of the oldest plain run, as YYYYMMDD; empty when the record
// holds none. 0 or the error.
[[nodiscard]] int Lau_Nights(FixText<9>& newest, FixText<9>& oldest);
// Records the start of a run over the dates first to last (YYYYMMDD; empty
// when none is due) and commits nothing; id receives the run's number.
// 0 or the error number.
[[nodiscard]] int Lau_Insert(const char* first, const char* last, const char* host,
                             const char* options, std::int64_t& id);
// Notes that run id has completed the night of date: walked to its end and
// its parameter lines in place. 0 or the error.
[[nodiscard]] int Lau_Night(std::int64_t id, const char* date);
// Records the run's end: status ("complete" or "incomplete"), counts and
// exit status. 0 or the error number.
[[nodiscard]] int Lau_Finish(std::int64_t id, const char* status, const MldCounts& counts,
                             int exitStatus);
// Marks every run still recorded as running "crashed": called by a run that
// holds the database (its lock, and on a cluster the lease), so no run of
// those can still be at work. 0 or the error number.
[[nodiscard]] int Lau_Crashed();

// Records that run id handled pnr's day of date with outcome ("changed",
// "nothing" or "failed"; "open" while some of the day's work is committed
// and some not yet), and whether a parameter line is due for it.
// Goes with the transaction but calls for no COMMIT of its own. 0 or the error.
[[nodiscard]] int Lat_Insert(const char* date, const char* pnr, std::int64_t id,
                             const char* outcome, int line);
// A day the record holds as not done: it has rows, but none says changed or
// nothing. root is 1 when one of them says why (open, failed, withdrawn),
// 0 when it was only passed over because an earlier day of its person was
// not done ("held"); line as in LatDay.
struct UndoneDay {
  std::string pnr;
  std::string date;  // YYYYMMDD
  int root;
  int line;
};
// Every day not done from since (YYYYMMDD) on, ordered by person as the
// server compares them, then by date: one statement. 0 or the error.
[[nodiscard]] int Lat_Undone(const char* since, std::vector<UndoneDay>& days);

// What the record says of one person's day, over every run.
struct LatDay {
  std::string pnr;
  int handled;  // 1: changed or nothing, all of its work committed
  int begun;    // 1: open or failed, some of its work may be committed
  int line;     // 1: a run wrote, or owes, a parameter line for it
};
// Every recorded day of date, in the server's order of LatPnr. 0 or the error.
[[nodiscard]] int Lat_Days(const char* date, std::vector<LatDay>& days);

// Marks pnr's handled days from date on as withdrawn (undone, begun, and
// owing their parameter line), but for the days of keep (YYYYMMDD): their
// work was taken back, and they are handled again. 0 or the error.
[[nodiscard]] int Lat_Withdraw(const char* pnr, const char* date,
                               const std::vector<std::string>& keep);

// The lease of Qel952Lea as a run finds it.
struct LeaseRow {
  int present;           // 1 when the row exists
  int held;              // 1 when a run holds it
  int stale;             // 1 when its heartbeat is older than asked
  FixText<97> token;     // the holder
  FixText<65> host;      // the holder's host
  FixText<20> heartbeat; // its last heartbeat, YYYY-MM-DD HH:MM:SS
};
// Reads the lease and locks its row until the transaction ends. 0,
// END_OF_DATA when there is no row, or the error number.
[[nodiscard]] int Lea_Read(int staleSeconds, LeaseRow& row);
// Takes the lease for token: inserts the row, or takes it over when present,
// its workers' rows with it.
[[nodiscard]] int Lea_Take(int present, const char* token, const char* host);
// Gives token the rows of workers 1 to count ("w1", ...), made where missing.
[[nodiscard]] int Lea_Slots(int count, const char* token, const char* host);
// Renews the heartbeat of row key ("run", or a worker's) for token, as
// bookkeeping of the open transaction: 0, DB_NO_ROW_CHANGED when token holds
// it no longer, or the error number. Every holder's transaction that writes
// it conflicts with a takeover on any node, so one that commits after it was
// taken over cannot.
[[nodiscard]] int Lea_Beat(const char* key, const char* token);
// As Lea_Beat, for a worker of a run on a single server: the row counts
// only while the session connId still holds the named lock lockName, so a
// worker whose run lost its session (and its lock with it) commits nothing
// more. 0, DB_NO_ROW_CHANGED, or the error number.
[[nodiscard]] int Lea_BeatLocked(const char* key, const char* token, const char* lockName,
                                 unsigned long connId);
// Takes every worker's row from whoever held it, into the open
// transaction: waits for a worker transaction still open on its row, and
// after the COMMIT no worker of an earlier run can prove itself. 0 or the
// error number.
[[nodiscard]] int Lea_Revoke();
// Frees the lease token holds: 0, DB_NO_ROW_CHANGED, or the error number.
[[nodiscard]] int Lea_Free(const char* token);

#endif  // PIRZOL_DB_LAU_H_
