#include "support/dbtest.h"

#include <fcntl.h>
#include <mysql.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <memory>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "db/db.h"

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v == nullptr ? std::string() : std::string(v);
}

}  // namespace

struct AdminSession::Impl {
  MYSQL handle;
};

AdminSession::AdminSession(const char* socket) : impl_(new Impl) {
  mysql_init(&impl_->handle);
  if (mysql_real_connect(&impl_->handle, "localhost", kTestUser, kTestPass, nullptr, 0, socket,
                         0) == nullptr) {
    ADD_FAILURE() << "admin connect: " << mysql_error(&impl_->handle)
                  << " (is MYSQL_UNIX_PORT set to the private server?)";
  }
}

AdminSession::~AdminSession() {
  mysql_close(&impl_->handle);
  delete impl_;
}

void AdminSession::Exec(const std::string& sql) {
  if (mysql_real_query(&impl_->handle, sql.data(), sql.size()) != 0) {
    ADD_FAILURE() << "seed refused: " << mysql_error(&impl_->handle) << "\n" << sql;
    return;
  }
  MYSQL_RES* res = mysql_store_result(&impl_->handle);
  if (res != nullptr) mysql_free_result(res);
}

int AdminSession::TryExec(const std::string& sql) {
  if (mysql_real_query(&impl_->handle, sql.data(), sql.size()) != 0) {
    return static_cast<int>(mysql_errno(&impl_->handle));
  }
  MYSQL_RES* res = mysql_store_result(&impl_->handle);
  if (res != nullptr) mysql_free_result(res);
  return 0;
}

Rows AdminSession::Query(const std::string& sql) {
  Rows rows;
  if (mysql_real_query(&impl_->handle, sql.data(), sql.size()) != 0) {
    ADD_FAILURE() << "query refused: " << mysql_error(&impl_->handle) << "\n" << sql;
    return rows;
  }
  MYSQL_RES* res = mysql_store_result(&impl_->handle);
  if (res == nullptr) return rows;
  unsigned n = mysql_num_fields(res);
  while (MYSQL_ROW row = mysql_fetch_row(res)) {
    std::vector<std::string> r;
    for (unsigned i = 0; i < n; ++i) r.emplace_back(row[i] == nullptr ? "NULL" : row[i]);
    rows.push_back(r);
  }
  mysql_free_result(res);
  return rows;
}

void AdminSession::ExecFile(const std::string& path) {
  std::string text = ReadFile(path);
  if (text.empty()) {
    ADD_FAILURE() << "cannot read " << path;
    return;
  }
  std::string stmt;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("--", 0) == 0) continue;
    stmt += line + "\n";
    if (line.find(';') != std::string::npos) {
      Exec(stmt);
      stmt.clear();
    }
  }
}

std::string NewDatabaseName() {
  static std::atomic<int> counter{0};
  return "pzt_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
}

void DbTest::SetUp() {
  admin_ = new AdminSession();
  db_ = NewDatabaseName();
  admin_->Exec("CREATE DATABASE " + db_);
  admin_->Exec("USE " + db_);
  admin_->ExecFile(Env("PIRZOL_SCHEMA"));
  ASSERT_EQ(Db_Connect(kTestUser, kTestPass, "localhost", db_.c_str()), 0) << Db_ErrText();
}

void DbTest::TearDown() {
  Db_Disconnect();
  if (admin_ != nullptr) {
    admin_->Exec("DROP DATABASE IF EXISTS " + db_);
    delete admin_;
    admin_ = nullptr;
  }
}

void DbTest::Seed(const std::string& sql) {
  admin_->Exec(sql);
  (void)Db_Commit();
}

Rows DbTest::SessionQuery(const std::string& sql) {
  Rows rows;
  Cursor cur{sql.c_str(), nullptr, 0};
  int rc = Cur_Open(cur);
  if (rc != 0) {
    ADD_FAILURE() << "session query refused (" << rc << "): " << Db_ErrText() << "\n" << sql;
    return rows;
  }
  if (cur.result == nullptr) return rows;
  unsigned n = mysql_num_fields(cur.result);
  MYSQL_ROW row = nullptr;
  while (Cur_Read(cur, row) == 0) {
    std::vector<std::string> r;
    for (unsigned i = 0; i < n; ++i) r.emplace_back(row[i] == nullptr ? "NULL" : row[i]);
    rows.push_back(r);
  }
  (void)Cur_Close(cur);
  return rows;
}

Rows DbTest::Committed(const std::string& sql) { return admin_->Query(sql); }

std::string DbTest::Day(int offset) {
  Rows r = SessionQuery("SELECT DATE_FORMAT(CURDATE() + INTERVAL " + std::to_string(offset) +
                        " DAY, '%Y%m%d')");
  return r.empty() ? std::string() : r[0][0];
}

void DbTest::Reconnect(const char* user, const char* pass) {
  Db_Disconnect();
  ASSERT_EQ(Db_Connect(user, pass, "localhost", db_.c_str()), 0) << Db_ErrText();
}

TempDir::TempDir() {
  char tmpl[] = "/tmp/pirzol-test-XXXXXX";
  const char* p = mkdtemp(tmpl);
  path_ = p == nullptr ? std::string("/tmp") : std::string(p);
}

TempDir::~TempDir() {
  if (path_ == "/tmp" || path_.empty()) return;
  std::string cmd = "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", path_.c_str());
}

Spawned SpawnProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& dir, const std::vector<std::string>& env,
                     const std::string& input) {
  Spawned child;
  child.io = std::make_shared<TempDir>();
  std::string inPath = child.io->File("stdin");
  {
    std::ofstream in(inPath, std::ios::binary);
    in << input;
  }
  // Under PIRZOL_VALGRIND the batch itself runs under valgrind's memcheck;
  // any error it finds becomes the exit status 99.
  std::vector<std::string> command;
  const char* valgrind = std::getenv("PIRZOL_VALGRIND");
  if (valgrind != nullptr && *valgrind != '\0' && program == PirzolBin()) {
    command = {valgrind, "--quiet", "--error-exitcode=99", "--leak-check=full",
               "--show-leak-kinds=definite,indirect,possible",
               "--errors-for-leak-kinds=definite,indirect,possible"};
  }
  command.push_back(program);
  command.insert(command.end(), args.begin(), args.end());
  const std::string outPath = child.io->File("stdout"), errPath = child.io->File("stderr");
  child.pid = fork();
  if (child.pid == 0) {
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(127);
    int fin = open(inPath.c_str(), O_RDONLY);
    int fout = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int ferr = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fin, 0);
    dup2(fout, 1);
    dup2(ferr, 2);
    for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> argv;
    for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return child;
}

RunResult WaitProgram(const Spawned& child, int timeoutSeconds) {
  RunResult result;
  int status = 0;
  pid_t done = 0;
  for (int waited = 0; waited < timeoutSeconds * 100; ++waited) {
    done = waitpid(child.pid, &status, WNOHANG);
    if (done != 0) break;
    usleep(10000);
  }
  if (done == 0) {
    ADD_FAILURE() << "program did not end within " << timeoutSeconds << " s";
    kill(child.pid, SIGKILL);
    waitpid(child.pid, &status, 0);
    result.status = -2;
  } else {
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  result.out = ReadFile(child.io->File("stdout"));
  result.err = ReadFile(child.io->File("stderr"));
  return result;
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& dir, const std::vector<std::string>& env,
                     const std::string& input) {
  return WaitProgram(SpawnProgram(program, args, dir, env, input));
}

std::string PirzolBin() { return Env("PIRZOL_BIN"); }
std::string PirzolIniBin() { return Env("PIRZOL_INI_BIN"); }

void WriteIni(const std::string& path, const std::string& user, const std::string& pass,
              const std::string& host, const std::string& database) {
  RunResult r = RunProgram(PirzolIniBin(), {"write", path}, "",
                           {"PIRZOL_LOGIN=" + user, "PIRZOL_PASS=" + pass, "PIRZOL_HOST=" + host,
                            "PIRZOL_DATABASE=" + database});
  ASSERT_EQ(r.status, 0) << r.err;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::string();
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string TableState(AdminSession& admin, const std::string& db, bool withRecord) {
  std::vector<std::string> queries = {
      "SELECT * FROM " + db + ".Qel327Tag ORDER BY TagPnr, TagTag",
      "SELECT * FROM " + db + ".Qel320Tgb ORDER BY TgbPnr, TgbDtm, TgbZtr",
      "SELECT BchPnr, BchVon, BchUhr, BchFkt, BchBis, BchVws, BchFcd, BchErf FROM " + db +
          ".Qel321Bch ORDER BY BchPnr, BchVon, BchUhr, BchFkt",
      "SELECT * FROM " + db + ".Qel131Fcd ORDER BY FcdNum",
      "SELECT * FROM " + db + ".Qel329Ztg ORDER BY ZtgPnr, ZtgVon",
      "SELECT * FROM " + db + ".Qel140Azv ORDER BY AzvNum, AzvGvo"};
  if (withRecord) {
    queries.push_back("SELECT LauId, LauVon, LauBis, LauFer, LauSta, LauExt FROM " + db +
                      ".Qel950Lau ORDER BY LauId");
    queries.push_back("SELECT * FROM " + db + ".Qel951Lat ORDER BY LatTag, LatPnr, LatLau");
  }
  std::string state;
  for (const std::string& q : queries) {
    for (const auto& row : admin.Query(q)) {
      for (const auto& col : row) state += col + "|";
      state += "\n";
    }
    state += "--\n";
  }
  return state;
}
