// Test support: a fresh database per test on the private server, seeding and
// querying beside the program's own session, and running the built programs.
#ifndef PIRZOL_TESTS_SUPPORT_DBTEST_H_
#define PIRZOL_TESTS_SUPPORT_DBTEST_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using Rows = std::vector<std::vector<std::string>>;

// Accounts of the private server (scripts/dbserver).
constexpr char kTestUser[] = "pirzol";
constexpr char kTestPass[] = "pirzol-test";
// Its sessions run at the server's fixed date of init_connect.
constexpr char kDateUser[] = "pzdate";
constexpr char kDatePass[] = "pirzol-date";

// A connection of the test's own, beside the program's session: it commits
// every statement, so what it seeds is there for the program to read.
class AdminSession {
 public:
  // On the private server of the test run, or on the one at socket.
  explicit AdminSession(const char* socket = nullptr);
  ~AdminSession();
  AdminSession(const AdminSession&) = delete;
  AdminSession& operator=(const AdminSession&) = delete;
  // Runs sql; fails the test when the server refuses it.
  void Exec(const std::string& sql);
  // Runs sql where a refusal is expected now and then (a conflict, a lock
  // wait): 0, or the server's error number, without failing the test.
  int TryExec(const std::string& sql);
  // Runs sql and returns its rows; NULL reads as "NULL".
  Rows Query(const std::string& sql);
  // Runs every ";"-ended statement of a file.
  void ExecFile(const std::string& path);

 private:
  struct Impl;
  Impl* impl_;
};

// A fresh database with the schema, and the program's session (Db_Connect)
// open on it. Subclasses seed their own rows.
class DbTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Seeds through the admin connection, then commits the program's session
  // so its next read sees the new rows.
  void Seed(const std::string& sql);
  // Rows as the program's own session sees them, uncommitted changes included.
  Rows SessionQuery(const std::string& sql);
  // Rows as another connection sees them: committed data only.
  Rows Committed(const std::string& sql);
  // A date relative to the server's today, as YYYYMMDD.
  std::string Day(int offset);
  std::string Yesterday() { return Day(-1); }
  // Reconnects the program's session as another account.
  void Reconnect(const char* user, const char* pass);

  std::string db_;
  AdminSession* admin_ = nullptr;
};

// Every row of db's tables, but for BchDat (the server's time of a change),
// in key order: two nights that must end alike compare equal. With
// withRecord the batch's run record is included, run times excluded.
std::string TableState(AdminSession& admin, const std::string& db, bool withRecord = false);

// The name of a new database for one test, unique in the run.
std::string NewDatabaseName();

// A temporary folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Result of running a built program.
struct RunResult {
  int status = -1;  // exit status, or -1 when it did not exit normally
  std::string out;  // standard output
  std::string err;  // standard error
};

// A program started and not yet waited for.
struct Spawned {
  int pid = -1;
  std::shared_ptr<TempDir> io;  // its standard input and outputs
};
Spawned SpawnProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& dir, const std::vector<std::string>& env = {},
                     const std::string& input = "");
// Waits for it; a program still running after timeoutSeconds is killed and
// fails the test (status -2), so a hang cannot stall the run.
RunResult WaitProgram(const Spawned& child, int timeoutSeconds = 600);

// Runs program with args in folder dir, with extra environment entries
// ("NAME=value") and the given standard input.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& dir, const std::vector<std::string>& env = {},
                     const std::string& input = "");
// The built binaries, as CTest names them in the environment.
std::string PirzolBin();
std::string PirzolIniBin();
// Writes a configuration file with pirzol-ini write.
void WriteIni(const std::string& path, const std::string& user, const std::string& pass,
              const std::string& host, const std::string& database);
// The whole content of a file ("" when it cannot be read).
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

#endif  // PIRZOL_TESTS_SUPPORT_DBTEST_H_
