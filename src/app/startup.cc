#include "app/startup.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "config/ini.h"
#include "db/db.h"
#include "base/fixtext.h"
#include "db/lau.h"
#include "followup/lease.h"
#include "followup/nights.h"
#include "followup/report.h"
#include "followup/run.h"
#include "base/counts.h"
#include "base/exitcodes.h"
#include "base/log.h"
#include "app/metrics.h"
#include "app/options.h"
#include "base/runflags.h"

namespace {

constexpr char kUsage[] =
    "Aufruf: pirzol [Param1] [Param2] [Param3]\n"
    "Param1: Pfad der Inidatei\n"
    "Param2: ZELTA/XXX ZELTA=Firmenkonsol.-Version\n"
    "Param3: D/X D=Debug\n";
constexpr char kVersion[] = "pirzol " PIRZOL_VERSION "\n";
constexpr char kHeaderFormat[] = "\nDatum: %d.%m.%Y  Uhrzeit: %H:%M:%S\n";
// The entry reads "Fehler(DB-Connect)! RC:%d Name:%s Pwd:%s Net:%s"; the
// number belongs to the values part so the text stays a plain text.
constexpr char kTxtConnect[] = "Fehler(DB-Connect)! ";
constexpr char kValConnect[] = "RC:%d Name:%s Pwd:%s Net:%s\n";
// The password never reaches the log: the log is read by more people than
// the configuration file.
constexpr char kPwdMask[] = "********";
constexpr char kTxtSummary[] = "Info: Laufzusammenfassung ";
constexpr char kValSummary[] =
    "Tag:%s Tage:%d Gefunden:%d Generiert:%d Storniert:%d Fehler:%d Commits:%d "
    "Wiederholungen:%d Aufgegeben:%d Status:%d\n";

// Beside pirzol.log: whoever holds it owns the working folder, its log and
// its parameter file.
constexpr char kLockName[] = "pirzol.lock";

constexpr std::size_t kParam1Size = 100;
constexpr std::size_t kValueSize = 51;
constexpr std::size_t kDatabaseSize = 21;

// Takes the configured value of key into value, or refuses it when it does
// not fit: a cut user name or password would connect as somebody else or fail
// in a way nobody could read from the log.
template <std::size_t N>
int TakeValue(const char* key, const char* path, FixText<N>& value, std::size_t drop) {
  Ini_Read("", key, 0, path);
  std::size_t len = std::strlen(IniValue);
  len = len >= drop ? len - drop : 0;
  if (len > N - 1) {
    Log_Stderr(kPrioError,
               "pirzol: the configuration value %s is longer than %zu characters; not "
               "started\n",
               key, N - 1);
    return PZL_VALUE_TOO_LONG;
  }
  value.assign(IniValue, len);
  return 0;
}

void WarnPermissions(const char* path) {
  struct stat st {};
  if (stat(path, &st) != 0) return;  // it was read a moment ago
  // Read by the batch's own group is how a service reads its secrets
  // (root:pirzol 0640); anything more is not.
  if ((st.st_mode & (S_IWGRP | S_IROTH | S_IWOTH)) != 0) {
    Log_Stderr(kPrioWarning,
               "pirzol: warning: the configuration file %s can be read or written by other "
               "users; its values are only obfuscated (chmod 600, or 640 for the batch's "
               "own group)\n",
               path);
  }
}

// Root working in a folder of another user (the service's, pirzol's) would
// leave pirzol.log, pirzoltgb and the lock file root's, and the next service
// run could not write them: refused with the line that runs it as the owner.
// 1 when refused (said on stderr), else 0.
int RootInForeignFolder(int argc, char** argv) {
  struct stat st {};
  if (geteuid() != 0 || stat(".", &st) != 0 || st.st_uid == 0) return 0;
  std::string owner = std::to_string(st.st_uid);
  if (const passwd* pw = getpwuid(st.st_uid); pw != nullptr) owner = pw->pw_name;
  std::string line = "runuser -u " + owner + " -- pirzol";
  for (int i = 1; i < argc; ++i) (line += ' ') += argv[i];
  Log_Stderr(kPrioError,
             "pirzol: run as root in a folder of user %s, the files it made would be root's and "
             "the next run as %s could not write them; nothing was started. Run it as that "
             "user: %s\n",
             owner.c_str(), owner.c_str(), line.c_str());
  return 1;
}

// The server's yesterday, YYYYMMDD, once the server has named it, and the
// nights the run handles.
FixText<9> AccountedDay;
NightPlan Plan;
RunOptions Options;

// The nights handled, for the summaries: one date, or the first and the last.
void Nights(char* log, char* shown, std::size_t size) {
  const char* first = Plan.dates.empty() ? AccountedDay.c_str() : Plan.dates.front().c_str();
  const char* last = Plan.dates.empty() ? first : Plan.dates.back().c_str();
  if (std::strlen(first) != 8) {
    std::snprintf(log, size, "-");
    std::snprintf(shown, size, "-");
  } else if (std::strcmp(first, last) == 0) {
    std::snprintf(log, size, "%s", first);
    std::snprintf(shown, size, "%.4s-%.2s-%.2s", first, first + 4, first + 6);
  } else {
    std::snprintf(log, size, "%s-%s", first, last);
    std::snprintf(shown, size, "%.4s-%.2s-%.2s to %.4s-%.2s-%.2s", first, first + 4, first + 6,
                  last, last + 4, last + 6);
  }
}

void Summary(int status) {
  char day[32] = {};
  char dashed[32] = {};
  Nights(day, dashed, sizeof day);
  Log_Entry(kTxtSummary, kValSummary, day, static_cast<int>(MldCount.daysRead),
            static_cast<int>(MldCount.daysFound), static_cast<int>(MldCount.generated),
            static_cast<int>(MldCount.cancelled), static_cast<int>(MldCount.failures),
            static_cast<int>(MldCount.commits), static_cast<int>(MldCount.retries),
            static_cast<int>(MldCount.givenUp), status);
  // The summary's level says how the run ended: a night that went well
  // is information, one that ended 0 with failures a warning.
  int level = status != kExitOk ? kPrioError
              : MldCount.failures > 0 || MldCount.givenUp > 0 ? kPrioWarning
                                                               : kPrioInfo;
  Log_Stderr(level,
             "pirzol: %s%s %s: %d placeholder days read, %d skipped as handled, %d last message "
             "days found, %d follow-ups generated, %d bookings cancelled, %d failures, %d "
             "commits, %d retries, %d units given up; exit status %d\n",
             DryRun != 0 ? "dry run, " : "",
             Plan.dates.size() > 1 ? "days" : "day", dashed,
             static_cast<int>(MldCount.daysRead), static_cast<int>(MldCount.daysSkipped),
             static_cast<int>(MldCount.daysFound), static_cast<int>(MldCount.generated),
             static_cast<int>(MldCount.cancelled), static_cast<int>(MldCount.failures),
             static_cast<int>(MldCount.commits), static_cast<int>(MldCount.retries),
             static_cast<int>(MldCount.givenUp), status);
}

// When the run began, and whether monitoring hears of it: every attempt
// counts, a wrong password or a server that is down included, for those are
// the nights an alert is for. Only a start that finds the folder locked stays
// silent: the file is the running run's, which writes it at its end.
std::time_t Begun = 0;
bool MetricsDue = false;
// Another host's run held the database's lock or lease: monitoring hears of
// it, but as no failure. (One in the same folder is left to write the file.)
bool RefusedBusy = false;

void WriteMetrics(int status) {
  if (!MetricsDue || Options.metrics.empty()) return;
  MetricsRun m{};
  m.start = static_cast<std::int64_t>(Begun);
  m.end = static_cast<std::int64_t>(std::time(nullptr));
  m.status = status;
  m.dryRun = DryRun;
  m.refusedBusy = RefusedBusy ? 1 : 0;
  m.counts = MldCount;
  m.heldBack = Plan.heldBack;
  for (const std::string& d : Plan.dates) {
    if (m.dateCount < kMetricsMaxDates) m.dates[m.dateCount++].assign(d.c_str());
  }
  int rc = Metrics_Write(Options.metrics.c_str(), m);
  if (rc != 0) {
    Log_Stderr(kPrioWarning, "pirzol: warning: cannot write the metrics file %s (%s)\n",
               Options.metrics.c_str(), std::strerror(rc));
  }
}

int Finish(int status) {
  Summary(status);
  WriteMetrics(status);
  Log_Close();
  return status;
}

// Ends a run that could not begin its work: nothing was changed.
int Stop(int status) {
  (void)Db_Rollback();
  Db_Disconnect();
  return Finish(status);
}

// Ends a start refused before the run's work could be planned: nothing was
// counted, so there is no summary, but monitoring learns of the attempt.
int Refuse(int status) {
  Db_Disconnect();
  WriteMetrics(status);
  Log_Close();
  return status;
}

// Takes the working folder before anything in it is opened, rotated or
// written: a second run must not begin the first one's log anew. The lock
// lives as long as the process. 0, PZL_FOLDER_LOCKED, PZL_LINKED (a link
// planted in the lock file's place is not followed), or -1 when no lock file
// can be had (the run goes on; the database's own lock still holds).
int LockFolder() {
  int fd = open(kLockName, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0640);
  if (fd < 0 && errno == ELOOP) {
    Log_Stderr(kPrioError, "pirzol: %s is a symbolic link; it is not followed\n", kLockName);
    return PZL_LINKED;
  }
  if (fd < 0) {
    Log_Stderr(kPrioWarning, "pirzol: warning: cannot open %s (%s); the folder is not locked\n",
               kLockName, std::strerror(errno));
    return -1;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    close(fd);
    if (err == EWOULDBLOCK) return PZL_FOLDER_LOCKED;
    Log_Stderr(kPrioWarning, "pirzol: warning: cannot lock %s (%s); the folder is not locked\n",
               kLockName, std::strerror(err));
    return -1;
  }
  return 0;  // the descriptor stays open: closing it would give the lock away
}

// The server's clock decides which day is accounted; a machine whose own
// yesterday differs is said to the operator, because around a clock change
// a server in another zone handles one night twice and skips another.
int NameTheDay() {
  int rc = Db_Yesterday(AccountedDay);
  if (rc != 0 || AccountedDay.size() != 8) {
    Log_Stderr(kPrioError, "pirzol: the server did not name its date (%d): %s; nothing was "
               "changed\n", rc, Db_ErrText());
    AccountedDay.assign("");
    return rc != 0 ? rc : -1;
  }
  // By the calendar: a day with a clock change has 23 or 25 hours, so for
  // one hour around it 86,400 s back name the day before yesterday or today.
  char local[16] = {};
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  tm.tm_mday -= 1;
  tm.tm_hour = 12;  // noon exists on every day, whatever the clock does at night
  tm.tm_min = 0;
  tm.tm_sec = 0;
  tm.tm_isdst = -1;
  (void)std::mktime(&tm);  // normalises the day before the first of a month
  std::strftime(local, sizeof local, "%Y%m%d", &tm);
  if (!(AccountedDay == local)) {
    Log_Stderr(kPrioWarning,
               "pirzol: warning: the server's yesterday is %s but this machine's is %s; the "
               "server's is handled\n",
               AccountedDay.c_str(), local);
  }
  return 0;
}

}  // namespace

char* Str_Upper(char* text) {
  for (std::size_t i = std::strlen(text); i > 0; --i) {
    unsigned char c = static_cast<unsigned char>(text[i - 1]);
    if (c >= 'a' && c <= 'z') text[i - 1] = static_cast<char>(std::toupper(c));
  }
  return text;
}

int Pzl_Main(int argc, char** argv) {
  // First, so that every line the run writes to stderr carries its priority.
  (void)Jrn_Attach();  // 0 only says stderr is no journal: the lines go out plain
  Begun = std::time(nullptr);
  CmdLine cmd{};
  if (Opt_Parse(argc, argv, cmd) != 0) return kExitNoStart;
  if (cmd.quiet != 0) Log_StderrUpTo(kPrioWarning);
  if (cmd.help != 0 || cmd.version != 0) {
    std::fputs(cmd.help != 0 ? kUsage : kVersion, stdout);
    if (cmd.help != 0) std::fputs(kOptHelp, stdout);
    return kExitOk;
  }
  // From here on monitoring hears of every end: a night refused for its
  // command line or its files is a night that did not run.
  Options = cmd.run;
  DryRun = Options.dryRun;
  MetricsDue = true;
  if (cmd.param[2] == nullptr) {
    // A service whose command line lost a word must not be recorded as a
    // night that succeeded.
    Log_Stderr(kPrioError, "%s", kUsage);
    Log_Stderr(kPrioError,
               "pirzol: CONFIG, MODE and SWITCH are all needed, options do not stand in for "
               "them; pirzol --help shows every option\n");
    return Refuse(kExitNoStart);
  }
  if (std::strlen(cmd.param[0]) > kParam1Size - 1) {
    Log_Stderr(kPrioError, "pirzol: the configuration path is longer than %zu characters\n",
               kParam1Size - 1);
    return Refuse(kExitNoStart);
  }
  // The client library would pass over an option file it cannot read and
  // connect without the port and TLS settings the operator put there.
  if (!cmd.defaultsFile.empty() && access(cmd.defaultsFile.c_str(), R_OK) != 0) {
    Log_Stderr(kPrioError, "pirzol: cannot read the option file %s (%s); nothing was started\n",
               cmd.defaultsFile.c_str(), std::strerror(errno));
    return Refuse(kExitNoStart);
  }
  // Read by the batch's user, or the run would connect as the empty user
  // and say only that it cannot connect.
  int fd = open(cmd.param[0], O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    Log_Stderr(kPrioError,
               "pirzol: cannot read the configuration file %s (%s); nothing was started\n",
               cmd.param[0], std::strerror(errno));
    return Refuse(kExitNoStart);
  }
  (void)close(fd);
  if (RootInForeignFolder(argc, argv) != 0) return Refuse(kExitNoStart);
  FixText<kParam1Size> param1;
  param1.assign(cmd.param[0]);

  // A reader of the trace that goes away, or a file size limit, must not end
  // the run in the middle of a transaction: the failed write is reported.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  int rc = LockFolder();
  if (rc == PZL_FOLDER_LOCKED) {
    Log_Stderr(kPrioError,
               "pirzol: another run is working in this folder (%s is locked); nothing was "
               "touched\n",
               kLockName);
    return kExitNoStart;
  }
  if (rc == PZL_LINKED) return Refuse(kExitNoStart);

  LogDetail = cmd.param[2][0] == 'D' ? 1 : 0;
  // Looked up for the old scripts; it changes nothing.
  if (std::getenv("PIRZOL_DBG") != nullptr) {
  }
  ConsoleTrace = 1;
  KonsolMode = std::strcmp(cmd.param[1], "ZELTA") == 0 ? 1 : 0;

  // Without a log the run goes on (Log_Open has said so); through a link it
  // does not.
  if (Log_Open() == PZL_LINKED) return Refuse(kExitNoStart);
  char header[100] = {};
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(header, sizeof header, kHeaderFormat, &local);
  Log_Line(header);

  WarnPermissions(param1.c_str());
  FixText<kValueSize> user, pwd, host;
  FixText<kDatabaseSize> database;
  if (TakeValue("LOGIN", param1.c_str(), user, 0) != 0 ||
      TakeValue("PASS", param1.c_str(), pwd, 0) != 0 ||
      TakeValue("NET8", param1.c_str(), host, 0) != 0 ||
      TakeValue("SCHEMA", param1.c_str(), database, 1) != 0) {
    return Refuse(kExitNoStart);
  }
  char dbName[kDatabaseSize] = {};
  std::memcpy(dbName, database.c_str(), database.size());
  Str_Upper(dbName);

  rc = Db_Connect(user.c_str(), pwd.c_str(), host.c_str(), dbName,
                  cmd.defaultsFile.empty() ? nullptr : cmd.defaultsFile.c_str());
  if (rc == DB_CASE_SENSITIVE) {
    Log_Stderr(kPrioError,
               "pirzol: the server compares table names case-sensitively "
               "(lower_case_table_names is 0); nothing was changed\n");
    return Refuse(kExitNoStart);
  }
  if (rc == DB_NO_TLS) {
    Log_Stderr(kPrioError,
               "pirzol: the option file %s asks for TLS, but the session to %s is not "
               "encrypted (the server offers no TLS, or it was stripped on the way); nothing "
               "was changed\n",
               cmd.defaultsFile.c_str(), host.c_str());
    return Refuse(kExitNoStart);
  }
  if (rc == 0 && Db_Encrypted() == 0 && !host.empty() && !(host == "localhost")) {
    Log_Stderr(kPrioWarning,
               "pirzol: warning: the session to %s is not encrypted: the password and the "
               "persons' days cross the network in clear (ssl-ca in an option file, "
               "--defaults-file)\n",
               host.c_str());
  }
  if (rc != 0) {
    Log_Fail(kTxtConnect, kValConnect, rc, user.c_str(), kPwdMask, host.c_str());
    Log_Stderr(kPrioError, "pirzol: cannot connect to the database (%d): %s\n", rc, Db_ErrText());
    return Refuse(kExitNoStart);
  }
  rc = Db_Lock(dbName);
  if (rc != 0) {
    if (rc == DB_LOCKED) {
      RefusedBusy = true;
      Log_Stderr(kPrioWarning,
                 "pirzol: another run holds the lock of database %s; nothing changed\n", dbName);
    } else {
      Log_Stderr(kPrioError, "pirzol: cannot take the run lock (%d): %s\n", rc, Db_ErrText());
    }
    return Refuse(kExitNoStart);
  }

  if (NameTheDay() != 0) return Stop(kExitNoStart);
  if (Db_Clustered() != 0) {
    // Every node grants its own named lock: on a cluster the lease in the
    // run record keeps two runs on two nodes apart. It is taken before the
    // nights are planned, so that a run that follows another plans from
    // what that one recorded.
    if (Lau_Present() != 1) {
      Log_Stderr(kPrioWarning,
                 "pirzol: warning: the server is a cluster node and the database has no run "
                 "record; two runs on two nodes are not kept apart\n");
    } else if ((rc = Lease_Take()) != 0) {
      if (rc > 0) Log_Stderr(kPrioError, "pirzol: the lease could not be taken (%d)\n", rc);
      RefusedBusy = rc == PZL_LEASE_HELD;
      return Stop(kExitNoStart);
    }
  }
  rc = Mld_Plan(Options, AccountedDay.c_str(), Plan);
  if (rc != 0) {
    if (rc > 0) {
      Log_Stderr(kPrioError, "pirzol: the run record could not be read (%d): %s\n", rc,
                 Db_ErrText());
    }
    (void)Lease_Release();  // nothing was done under it
    return Stop(kExitNoStart);
  }
  if (!Options.report.empty() && Rpt_Open(Options.report.c_str()) != 0) {
    (void)Lease_Release();  // nothing was done under it
    return Stop(kExitNoStart);
  }

  int status = Mld_Run(dbName, Options, Plan) == 0 ? kExitOk : kExitIncomplete;
  status = Mld_Finish(status);
  if (Rpt_Close(Plan.runId, Plan.dates, Options.work.c_str(), MldCount, status, DryRun,
                Plan.heldBack) != 0) {
    status = kExitIncomplete;
  }
  // Last, so that the row says how the run ended.
  status = Mld_Record(Plan, status);
  Db_Disconnect();
  return Finish(status);
}
