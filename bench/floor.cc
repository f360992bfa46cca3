// The floor a night's run is measured against: as many statements as the
// batch sent, each a plain round trip whose result is stored on the client as
// the batch stores its results, and as many commits, each after a one-row
// insert so the server has a change to make durable. Whatever the batch
// needs beyond this is the cost of what its statements ask the server to do.
//
//   pirzol-floor DATABASE STATEMENTS COMMITS
//   pirzol-floor --ping N      N round trips of SELECT 1 alone
//
// Reaches the server as the batch does (host localhost, MYSQL_UNIX_PORT),
// or at PIRZOL_BENCH_HOST and PIRZOL_BENCH_PORT when set, so the floor takes
// the same path as a batch run through a delaying proxy; the account is in
// PIRZOL_BENCH_USER and PIRZOL_BENCH_PASS. Prints one line: "floor
// statements=N commits=C seconds=S", or "ping round_trips=N us=U" with the
// mean time of one round trip.
#include <mysql.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

constexpr char kCreate[] =
    "CREATE TABLE IF NOT EXISTS bench_floor (id INT NOT NULL AUTO_INCREMENT PRIMARY KEY,"
    " v INT NOT NULL) ENGINE=InnoDB";
constexpr char kSelect[] = "SELECT 1";
constexpr char kInsert[] = "INSERT INTO bench_floor (v) VALUES (1)";
constexpr char kCommit[] = "COMMIT";

MYSQL Handle;

// Sends one statement and stores its result, as the batch's cursors do.
int Send(const char* sql) {
  if (mysql_real_query(&Handle, sql, std::strlen(sql)) != 0) {
    return static_cast<int>(mysql_errno(&Handle));
  }
  MYSQL_RES* res = mysql_store_result(&Handle);
  if (res != nullptr) mysql_free_result(res);
  return static_cast<int>(mysql_errno(&Handle));
}

double Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

long Count(const char* text) {
  char* end = nullptr;
  long n = std::strtol(text, &end, 10);
  return (end == text || *end != '\0' || n < 0) ? -1 : n;
}

}  // namespace

int main(int argc, char** argv) {
  bool ping = argc == 3 && std::strcmp(argv[1], "--ping") == 0;
  if (argc != 4 && !ping) {
    std::fprintf(stderr, "usage: pirzol-floor DATABASE STATEMENTS COMMITS | --ping N\n");
    return 2;
  }
  long statements = Count(argv[2]);
  long commits = ping ? 0 : Count(argv[3]);
  const char* user = std::getenv("PIRZOL_BENCH_USER");
  const char* pass = std::getenv("PIRZOL_BENCH_PASS");
  const char* host = std::getenv("PIRZOL_BENCH_HOST");
  const char* portText = std::getenv("PIRZOL_BENCH_PORT");
  long port = portText != nullptr ? Count(portText) : 0;
  if (statements < 0 || commits < 0 || port < 0 || port > 65535 || user == nullptr ||
      pass == nullptr) {
    std::fprintf(stderr,
                 "pirzol-floor: counts and port must be numbers; set PIRZOL_BENCH_USER/PASS\n");
    return 2;
  }
  // A commit comes with its insert: two statements of the total.
  if (2 * commits > statements) statements = 2 * commits;
  mysql_init(&Handle);
  if (mysql_real_connect(&Handle, host != nullptr ? host : "localhost", user, pass,
                         ping ? nullptr : argv[1], static_cast<unsigned int>(port), nullptr,
                         0) == nullptr) {
    std::fprintf(stderr, "pirzol-floor: connect: %s\n", mysql_error(&Handle));
    return 1;
  }
  if (ping) {
    int rc = 0;
    double start = Now();
    for (long i = 0; i < statements && rc == 0; ++i) rc = Send(kSelect);
    double seconds = Now() - start;
    if (rc != 0 || statements == 0) {
      std::fprintf(stderr, "pirzol-floor: ping: %s\n", rc != 0 ? mysql_error(&Handle) : "N is 0");
      return 1;
    }
    std::printf("ping round_trips=%ld us=%.1f\n", statements, 1e6 * seconds / statements);
    mysql_close(&Handle);
    return 0;
  }
  if (Send("SET AUTOCOMMIT = 0") != 0 || Send(kCreate) != 0) {
    std::fprintf(stderr, "pirzol-floor: setup: %s\n", mysql_error(&Handle));
    return 1;
  }
  long selects = statements - 2 * commits;
  // Commits spread evenly among the round trips, as the batch sends one per
  // accounted day rather than all at the end.
  long done = 0;
  long committed = 0;
  int rc = 0;
  double start = Now();
  for (long i = 0; i < selects && rc == 0; ++i) {
    rc = Send(kSelect);
    ++done;
    while (rc == 0 && committed < commits && committed * selects < commits * (i + 1)) {
      rc = Send(kInsert);
      if (rc == 0) rc = Send(kCommit);
      ++committed;
      done += 2;
    }
  }
  while (rc == 0 && committed < commits) {
    rc = Send(kInsert);
    if (rc == 0) rc = Send(kCommit);
    ++committed;
    done += 2;
  }
  double seconds = Now() - start;
  if (rc != 0) {
    std::fprintf(stderr, "pirzol-floor: statement refused (%d): %s\n", rc, mysql_error(&Handle));
    return 1;
  }
  std::printf("floor statements=%ld commits=%ld seconds=%.3f\n", done, committed, seconds);
  mysql_close(&Handle);
  return 0;
}
