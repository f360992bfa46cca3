#include "run/startup.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "config/ini.h"
#include "db/db.h"
#include "db/fixtext.h"
#include "followup/run.h"
#include "run/counts.h"
#include "run/exitcodes.h"
#include "run/log.h"
#include "run/runflags.h"

namespace {

constexpr char kUsage[] =
    "Aufruf: pirzol [Param1] [Param2] [Param3]\n"
    "Param1: Pfad der Inidatei\n"
    "Param2: ZELTA/XXX ZELTA=Firmenkonsol.-Version\n"
    "Param3: D/X D=Debug\n";
constexpr char kHeaderFormat[] = "\nDatum: %d.%m.%Y  Uhrzeit: %H:%M:%S\n";
// The entry reads "Fehler(DB-Connect)! RC:%d Name:%s Pwd:%s Net:%s"; the
// number belongs to the values part so the text stays a plain text.
constexpr char kTxtConnect[] = "Fehler(DB-Connect)! ";
constexpr char kValConnect[] = "RC:%d Name:%s Pwd:%s Net:%s\n";
// The password never reaches the log: the log is read by more people than
// the configuration file.
constexpr char kPwdMask[] = "********";
constexpr char kTxtCommit[] = "Fehler(Db_Commit): Abschluss der Verarbeitung! ";
constexpr char kTxtSummary[] = "Info: Laufzusammenfassung ";
constexpr char kValSummary[] =
    "Tage:%d Gefunden:%d Generiert:%d Storniert:%d Fehler:%d Commits:%d Status:%d\n";
constexpr char kValRc[] = "RC:%d\n";

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
    std::fprintf(stderr,
                 "pirzol: the configuration value %s is longer than %zu characters; not "
                 "started\n",
                 key, N - 1);
    return -1;
  }
  value.assign(IniValue, len);
  return 0;
}

void WarnPermissions(const char* path) {
  struct stat st {};
  if (stat(path, &st) != 0) {
    std::fprintf(stderr, "pirzol: cannot read the configuration file %s\n", path);
    return;
  }
  if ((st.st_mode & (S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH)) != 0) {
    std::fprintf(stderr,
                 "pirzol: warning: the configuration file %s can be read or written by other "
                 "users; its values are only obfuscated (chmod 600)\n",
                 path);
  }
}

void Summary(int status) {
  Log_Entry(kTxtSummary, kValSummary, static_cast<int>(MldCount.daysRead),
            static_cast<int>(MldCount.daysFound), static_cast<int>(MldCount.generated),
            static_cast<int>(MldCount.cancelled), static_cast<int>(MldCount.failures),
            static_cast<int>(MldCount.commits), status);
  std::fprintf(stderr,
               "pirzol: %d placeholder days read, %d last message days found, %d follow-ups "
               "generated, %d bookings cancelled, %d failures, %d commits; exit status %d\n",
               static_cast<int>(MldCount.daysRead), static_cast<int>(MldCount.daysFound),
               static_cast<int>(MldCount.generated), static_cast<int>(MldCount.cancelled),
               static_cast<int>(MldCount.failures), static_cast<int>(MldCount.commits), status);
}

int Finish(int status) {
  Summary(status);
  Log_Close();
  return status;
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
  if (argc < 4) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (std::strlen(argv[1]) > kParam1Size - 1) {
    std::fprintf(stderr, "pirzol: the configuration path is longer than %zu characters\n",
                 kParam1Size - 1);
    return kExitNoStart;
  }
  FixText<kParam1Size> param1;
  param1.assign(argv[1]);

  LogDetail = argv[3][0] == 'D' ? 1 : 0;
  (void)std::getenv("PIRZOL_DBG");  // looked up for the old scripts; it changes nothing
  ConsoleTrace = 1;
  KonsolMode = std::strcmp(argv[2], "ZELTA") == 0 ? 1 : 0;

  if (Log_Open() != 0) {
    std::fprintf(stderr, "pirzol: warning: cannot open pirzol.log; running without a log\n");
  }
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
    Log_Close();
    return kExitNoStart;
  }
  char dbName[kDatabaseSize] = {};
  std::memcpy(dbName, database.c_str(), database.size());
  Str_Upper(dbName);

  int rc = Db_Connect(user.c_str(), pwd.c_str(), host.c_str(), dbName);
  if (rc == DB_CASE_SENSITIVE) {
    std::fprintf(stderr,
                 "pirzol: the server compares table names case-sensitively "
                 "(lower_case_table_names is 0); nothing was changed\n");
    Db_Disconnect();
    Log_Close();
    return kExitNoStart;
  }
  if (rc != 0) {
    Log_Entry(kTxtConnect, kValConnect, rc, user.c_str(), kPwdMask, host.c_str());
    std::fprintf(stderr, "pirzol: cannot connect to the database (%d): %s\n", rc, Db_ErrText());
    Log_Close();
    return kExitNoStart;
  }
  rc = Db_Lock(dbName);
  if (rc != 0) {
    if (rc == DB_LOCKED) {
      std::fprintf(stderr, "pirzol: another run holds the lock of database %s; nothing changed\n",
                   dbName);
    } else {
      std::fprintf(stderr, "pirzol: cannot take the run lock (%d): %s\n", rc, Db_ErrText());
    }
    Db_Disconnect();
    Log_Close();
    return kExitNoStart;
  }

  int status = Mld_Run(dbName) == 0 ? kExitOk : kExitIncomplete;
  // Without this the hour-message follow-ups of the last persons would be
  // rolled back while the parameter file lists them.
  if (Db_Commit() != 1) {
    Log_Notice(kTxtCommit, kValRc, Db_ErrNo());
    std::fprintf(stderr, "pirzol: the final COMMIT failed (%d): %s\n", Db_ErrNo(), Db_ErrText());
    status = kExitIncomplete;
  } else {
    ++MldCount.commits;
  }
  Db_Disconnect();
  return Finish(status);
}
