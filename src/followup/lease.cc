#include "followup/lease.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "base/counts.h"
#include "base/log.h"
#include "base/result.h"
#include "base/runflags.h"
#include "db/db.h"
#include "db/lau.h"

namespace {

constexpr char kTxtTakeover[] = "Info: Lauf-Lease eines toten Laufs \xFC" "bernommen! ";
constexpr char kValTakeover[] = "Host:%s Herzschlag:%s\n";

// The boot's id, without its dashes; empty where the kernel gives none.
// The service hands it over in PIRZOL_BOOT_ID (its unit's %b): its sandbox
// shows no /proc/sys, and without the id a crashed run of this host is never
// known as dead, so the lease waits out its ten minutes.
void BootId(char* out, std::size_t size) {
  out[0] = '\0';
  char line[64] = {};
  const char* given = std::getenv("PIRZOL_BOOT_ID");
  if (given != nullptr && std::strspn(given, "0123456789abcdef-") == std::strlen(given) &&
      std::strlen(given) >= 32) {
    std::snprintf(line, sizeof line, "%s", given);
  } else if (std::FILE* f = std::fopen("/proc/sys/kernel/random/boot_id", "re"); f != nullptr) {
    if (std::fgets(line, sizeof line, f) == nullptr) line[0] = '\0';
    std::fclose(f);
  }
  std::size_t n = 0;
  for (const char* p = line; *p != '\0' && *p != '\n' && n + 1 < size; ++p) {
    if (*p != '-') out[n++] = *p;
  }
  out[n] = '\0';
}

// When process pid began, in clock ticks since the boot; 0 when there is no
// such process (or it cannot be read).
unsigned long long StartTime(long pid) {
  char path[64] = {};
  std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
  std::FILE* f = std::fopen(path, "re");
  if (f == nullptr) return 0;
  char text[1024] = {};
  std::size_t n = std::fread(text, 1, sizeof text - 1, f);
  std::fclose(f);
  text[n] = '\0';
  // The name in parentheses may hold blanks; the fields after it do not.
  const char* p = std::strrchr(text, ')');
  if (p == nullptr) return 0;
  // State is the third field, the start time the twenty-second.
  for (int field = 2; field < 22 && p != nullptr; ++field) p = std::strchr(p + 1, ' ');
  return p != nullptr ? std::strtoull(p + 1, nullptr, 10) : 0;
}

// The boot and the PID namespace this process runs in, "boot/namespace";
// empty where either cannot be read.
void Origin(char* out, std::size_t size) {
  char boot[40] = {};
  BootId(boot, sizeof boot);
  char ns[64] = {};
  ssize_t n = readlink("/proc/self/ns/pid", ns, sizeof ns - 1);
  if (boot[0] == '\0' || n <= 0) {
    out[0] = '\0';
    return;
  }
  ns[n] = '\0';
  // "pid:[4026531836]": the number names the namespace.
  const char* number = std::strchr(ns, '[');
  std::snprintf(out, size, "%s/%s", boot, number != nullptr ? number + 1 : ns);
  char* end = std::strchr(out, ']');
  if (end != nullptr) *end = '\0';
}

// A holder of this host is known dead at once only when the token shows the
// same boot and PID namespace, and its process number now names no process,
// or one that began at another time: a host of the same name may be a clone,
// and another namespace has numbers of its own. Anything else waits for the
// stale heartbeat.
bool HolderGone(const LeaseRow& row, const char* host, const char* boot) {
  if (boot[0] == '\0' || !(row.host == host)) return false;
  const char* token = row.token.c_str();
  std::size_t bootLen = std::strlen(boot);
  if (std::strncmp(token, boot, bootLen) != 0 || token[bootLen] != ':') return false;
  char* end = nullptr;
  long pid = std::strtol(token + bootLen + 1, &end, 10);
  if (pid <= 0 || end == nullptr || *end != ':') return false;
  unsigned long long began = std::strtoull(end + 1, nullptr, 10);
  if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return true;
  unsigned long long now = StartTime(pid);
  return now != 0 && now != began;
}

bool Held = false;
bool LostIt = false;
FixText<97> Token;
char Key[9] = "run";  // the row this process proves the lease with
bool Beats = true;      // the holder renews the heartbeat; its workers do not
std::time_t LastBeat = 0;
std::time_t BeatSent = 0;
// On a single server there is no lease: a worker proves instead that the
// session of its run still holds the named lock, which goes with that
// session at once.
bool ByLock = false;
std::string FenceLock;
unsigned long FenceSession = 0;

// The token of this process: boot, PID namespace, pid and its start time.
void MakeToken() {
  char boot[64] = {};
  Origin(boot, sizeof boot);
  char token[97] = {};
  std::snprintf(token, sizeof token, "%s:%ld:%llu", boot, static_cast<long>(getpid()),
                StartTime(static_cast<long>(getpid())));
  Token.assign(token);
}

// The lease said lost once, where it was found so.
int Lost(int rc) {
  Held = false;
  LostIt = true;
  Log_Stderr(kPrioError,
             "pirzol: this run cannot show that it still holds the database's lease (%d); "
             "another run may have taken it over, so nothing more is committed and this run "
             "stops\n",
             rc);
  return PZL_LEASE_LOST;
}

}  // namespace

int Lease_Take() {
  char host[65] = {};
  (void)gethostname(host, sizeof host - 1);
  char boot[64] = {};
  Origin(boot, sizeof boot);
  MakeToken();

  LeaseRow row;
  int rc = Lea_Read(kLeaseStaleSeconds, row);
  if (rc != 0 && rc != END_OF_DATA) return rc;
  const bool gone = row.held != 0 && row.stale == 0 && HolderGone(row, host, boot);
  if (row.held != 0 && row.stale == 0 && !gone) {
    (void)Db_Rollback();
    Log_Stderr(kPrioError,
               "pirzol: a run on %s holds the database's lease (heartbeat %s UTC); nothing was "
               "changed\n",
               row.host.c_str(), row.heartbeat.c_str());
    return PZL_LEASE_HELD;
  }
  if (DryRun != 0) {
    // A dry run commits nothing, the lease included: it looks, and leaves
    // the row to the runs that work.
    (void)Db_Rollback();
    return 0;
  }
  rc = Lea_Take(row.present, Token.c_str(), host);
  if (rc == 0 && Db_Commit() != 1) rc = Db_TxnError() != 0 ? Db_TxnError() : Db_ErrNo();
  if (rc != 0) {
    (void)Db_Rollback();
    if (Db_Retryable(rc) != 0 || rc == DB_DUPLICATE) {
      // Another node's run took it in the same moment, and the cluster let
      // that one commit.
      Log_Stderr(kPrioError,
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
    Log_Stderr(kPrioWarning,
               "pirzol: took over the lease of a run on %s whose last heartbeat was %s UTC%s\n",
               row.host.c_str(), row.heartbeat.c_str(),
               gone ? " (its process on this host has ended)" : "");
  }
  Held = true;
  LastBeat = std::time(nullptr);
  return 0;
}

int Lease_Held() { return Held ? 1 : 0; }
int Lease_Lost() { return LostIt ? 1 : 0; }

int Lease_Hold() {
  if (LostIt) return PZL_LEASE_LOST;
  if (ByLock && Key[0] == 'w') {
    int rc = Lea_BeatLocked(Key, Token.c_str(), FenceLock.c_str(), FenceSession);
    return rc == DB_NO_ROW_CHANGED ? Lost(rc) : rc;
  }
  if (!Held) return 0;
  int rc = Lea_Beat(Key, Token.c_str());
  if (rc == DB_NO_ROW_CHANGED) return Lost(rc);
  if (rc == 0) BeatSent = std::time(nullptr);
  return rc;
}

void Lease_Kept() {
  if (Held && BeatSent != 0) LastBeat = BeatSent;
  BeatSent = 0;
}

int Lease_Due() {
  if (!Held || !Beats) return 0;
  std::time_t now = std::time(nullptr);
  return now - LastBeat >= kLeaseBeatSeconds || now < LastBeat ? 1 : 0;
}

int Lease_Slots(int count) {
  char host[65] = {};
  (void)gethostname(host, sizeof host - 1);
  if (Held) return count > 1 ? Lea_Slots(count, Token.c_str(), host) : 0;
  // A single server: workers of an earlier run whose session was lost are
  // shut out first, waiting for a transaction of theirs still open.
  int rc = Lea_Revoke();
  if (rc != 0 || count <= 1) return rc;
  MakeToken();
  ByLock = true;
  FenceLock = Db_LockName();
  FenceSession = Db_SessionId();
  return Lea_Slots(count, Token.c_str(), host);
}

void Lease_Slot(int worker) {
  if (!Held && !ByLock) return;
  std::snprintf(Key, sizeof Key, "w%d", worker);
  Beats = false;
}

void Lease_Gone() {
  if (!Held && !LostIt) return;
  Held = false;
  LostIt = true;
}

int Lease_Release() {
  if (!Held) return 0;
  int rc = Lea_Free(Token.c_str());
  if (rc == DB_NO_ROW_CHANGED) {
    (void)Db_Rollback();
    return Lost(rc);
  }
  if (rc == 0 && Db_Commit() == 1) {
    Held = false;
    ++MldCount.commits;
    return 0;
  }
  // A takeover applied in this moment aborts the free as a conflict; either
  // way the lease's state is not known, and the operator must hear of it.
  if (rc == 0) rc = Db_TxnError() != 0 ? Db_TxnError() : Db_ErrNo();
  (void)Db_Rollback();
  Held = false;
  Log_Stderr(kPrioError,
             "pirzol: the database's lease could not be freed (%d); another run may have "
             "taken it over, or it is freed when its heartbeat is ten minutes old\n",
             rc);
  return PZL_LEASE_LOST;
}
