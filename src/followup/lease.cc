#include "followup/lease.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "db/db.h"
#include "db/lau.h"
#include "base/result.h"
#include "base/counts.h"
#include "base/log.h"

namespace {

constexpr char kTxtTakeover[] = "Info: Lauf-Lease eines toten Laufs \xFC" "bernommen! ";
constexpr char kValTakeover[] = "Host:%s Herzschlag:%s\n";

// A holder of this host whose process is gone is known dead at once; one on
// another host only by its heartbeat. A process of the holder's number that
// still runs counts as the holder, whatever it is: the safe side.
bool HolderGone(const LeaseRow& row, const char* host) {
  const char* token = row.token.c_str();
  std::size_t hostLen = std::strlen(host);
  if (hostLen == 0 || std::strncmp(token, host, hostLen) != 0 || token[hostLen] != ':') {
    return false;
  }
  long pid = std::strtol(token + hostLen + 1, nullptr, 10);
  return pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

bool Held = false;
FixText<97> Token;
std::time_t LastBeat = 0;

}  // namespace

int Lease_Take() {
  char host[65] = {};
  (void)gethostname(host, sizeof host - 1);
  char token[97] = {};
  std::snprintf(token, sizeof token, "%s:%ld:%ld", host, static_cast<long>(getpid()),
                static_cast<long>(std::time(nullptr)));
  Token.assign(token);

  LeaseRow row;
  int rc = Lea_Read(kLeaseStaleSeconds, row);
  if (rc != 0 && rc != END_OF_DATA) return rc;
  const bool gone = row.held != 0 && row.stale == 0 && HolderGone(row, host);
  if (row.held != 0 && row.stale == 0 && !gone) {
    (void)Db_Rollback();
    std::fprintf(stderr,
                 "pirzol: a run on %s holds the database's lease (heartbeat %s); nothing was "
                 "changed\n",
                 row.host.c_str(), row.heartbeat.c_str());
    return PZL_LEASE_HELD;
  }
  rc = Lea_Take(row.present, Token.c_str(), host);
  if (rc == 0 && Db_Commit() != 1) rc = Db_TxnError() != 0 ? Db_TxnError() : Db_ErrNo();
  if (rc != 0) {
    (void)Db_Rollback();
    if (Db_Retryable(rc) != 0 || rc == DB_DUPLICATE) {
      // Another node's run took it in the same moment, and the cluster let
      // that one commit.
      std::fprintf(stderr,
                   "pirzol: a run on another node took the database's lease first (%d); "
                   "nothing was changed\n",
                   rc);
      return PZL_LEASE_HELD;
    }
    return rc;
  }
  ++MldCount.commits;
  if (row.held != 0) {
    Log_Notice(kTxtTakeover, kValTakeover, row.host.c_str(), row.heartbeat.c_str());
    std::fprintf(stderr,
                 "pirzol: took over the lease of a run on %s whose last heartbeat was %s%s\n",
                 row.host.c_str(), row.heartbeat.c_str(),
                 gone ? " (its process on this host has ended)" : "");
  }
  Held = true;
  LastBeat = std::time(nullptr);
  return 0;
}

int Lease_Tick() {
  if (!Held) return 0;
  std::time_t now = std::time(nullptr);
  if (now - LastBeat < kLeaseBeatSeconds) return 0;
  int rc = Lea_Beat(Token.c_str());
  if (rc == 0 && Db_Commit() == 1) {
    ++MldCount.commits;
    LastBeat = now;
    return 0;
  }
  (void)Db_Rollback();
  Held = false;
  std::fprintf(stderr,
               "pirzol: the database's lease could not be renewed (%d); another run may have "
               "taken it over, and this one stops\n",
               rc != 0 ? rc : Db_TxnError());
  return PZL_LEASE_LOST;
}

void Lease_Release() {
  if (!Held) return;
  Held = false;
  if (Lea_Free(Token.c_str()) == 0 && Db_Commit() == 1) ++MldCount.commits;
}
