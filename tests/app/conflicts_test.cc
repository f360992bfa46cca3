// Other sessions at work beside the batch, as terminals are during a night:
// a deadlock that makes the batch the victim, a lock wait that runs out, and
// a lock held through every try. Each night is compared with the same night
// run quietly on the same data.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "support/batch.h"
#include "support/ownserver.h"

namespace {

// The demo's persons on a server whose lock waits end after 2 s, so that a
// unit given up after five tries is seen within seconds.
class Conflicts : public OwnServerBatch {
 protected:
  Conflicts() : OwnServerBatch({"--innodb-lock-wait-timeout=2"}) {}

  void SetUp() override {
    OwnServerBatch::SetUp();
    Seed();
  }

  // The demo's persons and one whose second follow-up cancels its first.
  void Seed() {
    SeedDemo();
    SeedTwoFollowUps(*Admin(), "10000008");
  }

  std::string TableState() { return ::TableState(*Admin(), "pznight"); }

  // Days of the night without their closing row in the record: none after a
  // night that ended well, whatever was rolled back on the way.
  std::string Unclosed() {
    return Admin()->Query("SELECT COUNT(*) FROM Qel327Tag t WHERE TagTag = CURDATE() -"
                          " INTERVAL 1 DAY AND NOT EXISTS (SELECT 1 FROM Qel951Lat WHERE"
                          " LatTag = t.TagTag AND LatPnr = t.TagPnr AND LatErg IN"
                          " ('changed', 'nothing'))")[0][0];
  }

  // The night run without anybody else at work, then the data put back.
  void RunQuietly() {
    RunResult r = WaitProgram(Start("X"));
    ASSERT_EQ(r.status, 0) << r.err;
    quietState_ = TableState();
    quietParams_ = ParamFile();
    Recreate();
    Seed();
  }

  // A terminal's session on the same data, in a transaction of its own.
  std::unique_ptr<AdminSession> Terminal() {
    auto s = std::make_unique<AdminSession>(server_.Socket().c_str());
    s->Exec("USE pznight");
    s->Exec("BEGIN");
    return s;
  }

  // Waits until the batch's statement that starts with prefix and names
  // pnr is at work (waiting for the terminal's lock); false after 20 s.
  bool WaitForStatement(const std::string& prefix, const std::string& pnr = "10000004") {
    for (int i = 0; i < 2000; ++i) {
      if (Admin()->Query("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE INFO LIKE '" +
                         prefix + "%' AND INFO LIKE '%" + pnr + "%'")[0][0] != "0") {
        return true;
      }
      usleep(10000);
    }
    return false;
  }

  // Waits until the log holds text; false after 30 s.
  bool WaitForLog(const std::string& text) {
    for (int i = 0; i < 3000; ++i) {
      if (Log().find(text) != std::string::npos) return true;
      usleep(10000);
    }
    return false;
  }

  // The whole key: a record lock on the booking alone, with no gap beside it.
  static constexpr char kFlexitimeDay[] =
      "SELECT BchFkt FROM Qel321Bch WHERE BchPnr = '10000004' AND"
      " BchVon = CURDATE() - INTERVAL 1 DAY AND"
      " BchUhr = TIMESTAMP(CURDATE() - INTERVAL 1 DAY, '00:00:00') AND BchFkt = 1 FOR UPDATE";
  std::string quietState_;
  std::string quietParams_;
};

// The terminal holds the accounted day's record of 10000004 after changing
// many rows, so the server picks the lighter batch as the victim once the
// terminal asks for the booking the batch has just cancelled.
TEST_F(Conflicts, DeadlockVictimIsRedoneAndTheNightEndsAsAQuietOne) {
  RunQuietly();
  Admin()->Exec("CREATE TABLE terminal_work (id INT PRIMARY KEY, v INT)");
  Admin()->Exec("INSERT INTO terminal_work SELECT seq, 0 FROM seq_1_to_2000");
  auto terminal = Terminal();
  terminal->Exec("UPDATE terminal_work SET v = v + 1");
  terminal->Exec("SELECT TagTgb FROM Qel327Tag WHERE TagPnr = '10000004' AND"
                 " TagTag = CURDATE() - INTERVAL 1 DAY FOR UPDATE");
  Spawned run = Start();
  ASSERT_TRUE(WaitForStatement("UPDATE QEL327Tag"));
  terminal->Exec(kFlexitimeDay);  // closes the cycle; granted once the batch is rolled back
  terminal->Exec("ROLLBACK");
  RunResult r = WaitProgram(run);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("0 failures, 10 commits, 1 retries, 0 units given up"), std::string::npos)
      << r.err;
  EXPECT_NE(Log().find("Info: Arbeitseinheit wird wiederholt! RC:1213 Pnr:10000004"),
            std::string::npos);
  EXPECT_EQ(TableState(), quietState_);
  EXPECT_EQ(Unclosed(), "0");
  EXPECT_EQ(ParamFile(), quietParams_);
}

// The terminal holds the flexitime day the batch must cancel until the
// batch's wait has run out once.
TEST_F(Conflicts, LockWaitTimeoutIsRedoneAndTheNightEndsAsAQuietOne) {
  RunQuietly();
  auto terminal = Terminal();
  terminal->Exec(kFlexitimeDay);
  Spawned run = Start();
  ASSERT_TRUE(WaitForLog("Info: Arbeitseinheit wird wiederholt! RC:1205 Pnr:10000004"));
  terminal->Exec("ROLLBACK");
  RunResult r = WaitProgram(run);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("0 units given up; exit status 0"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(" 0 retries"), std::string::npos) << r.err;
  EXPECT_EQ(TableState(), quietState_);
  EXPECT_EQ(Unclosed(), "0");
  EXPECT_EQ(ParamFile(), quietParams_);
}

// Held through every try: the unit is given up with nothing of it kept, the
// person's day is not listed, everybody else's night is done, and the run
// reports itself incomplete.
TEST_F(Conflicts, LockHeldThroughEveryTryGivesTheUnitUpAndEndsIncomplete) {
  RunQuietly();
  const std::string before = TableState();
  auto terminal = Terminal();
  terminal->Exec(kFlexitimeDay);
  RunResult r = WaitProgram(Start());
  terminal->Exec("ROLLBACK");
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("gave up TagesMld:K of person 10000004 on "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("after 5 tries (1205"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("4 retries, 1 units given up; exit status 3"), std::string::npos) << r.err;
  EXPECT_NE(Log().find("Fehler(Einheit): Arbeitseinheit aufgegeben! RC:1205 Pnr:10000004"),
            std::string::npos);
  // 10000004 untouched: no follow-up, the flexitime day in force, the slot empty.
  EXPECT_EQ(Admin()->Query("SELECT COUNT(*) FROM Qel321Bch WHERE BchPnr = '10000004' AND"
                           " (BchFcd = 'KF' OR BchFkt = 45)")[0][0],
            "0");
  EXPECT_EQ(Admin()->Query("SELECT TagTgb FROM Qel327Tag WHERE TagPnr = '10000004' AND"
                           " TagTag = CURDATE() - INTERVAL 1 DAY")[0][0],
            "");
  // Everybody else as in the quiet night.
  std::string listed = quietParams_;
  const std::size_t at = listed.find("10000004,");
  ASSERT_NE(at, std::string::npos);
  listed.erase(at, listed.find('\n', at) + 1 - at);
  EXPECT_EQ(ParamFile(), listed);
  EXPECT_NE(TableState(), before);
  // The failed day holds its person back, and the night's catch-up point
  // moved on for everybody else: the next plain run does that day alone,
  // and the night ends as a quiet one.
  EXPECT_NE(r.err.find("1 days failed in this run; 1 persons are held back"), std::string::npos)
      << r.err;
  RunResult next = WaitProgram(Start());
  EXPECT_EQ(next.status, 0) << next.err;
  EXPECT_EQ(TableState(), quietState_);
  EXPECT_EQ(ParamFile(), quietParams_.substr(at, quietParams_.find('\n', at) + 1 - at));
  EXPECT_EQ(Unclosed(), "0");
}

// The run's own session is killed while its three workers work, one of them
// waiting for a terminal's lock: the named lock went with the session, so
// that worker commits nothing once the terminal lets it go.
TEST_F(Conflicts, WorkersCommitNothingOnceTheirRunLostItsLock) {
  auto terminal = Terminal();
  terminal->Exec(kFlexitimeDay);
  Spawned run = Start("D", {"--workers=3"});
  ASSERT_TRUE(WaitForStatement("UPDATE QEL321Bch"));
  const std::string holder = Admin()->Query("SELECT IS_USED_LOCK('pirzol.PZNIGHT')")[0][0];
  Admin()->Exec("KILL CONNECTION " + holder);
  // The server frees the lock once the killed session ends; a worker's
  // COMMIT already past its proof by then may still land.
  const char* freed = "SELECT IS_USED_LOCK('pirzol.PZNIGHT') IS NULL";
  for (int i = 0; i < 500 && Admin()->Query(freed)[0][0] != "1"; ++i) usleep(10000);
  usleep(300000);
  const std::string atKill = TableState();
  terminal->Exec("ROLLBACK");
  RunResult r = WaitProgram(run);
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(TableState(), atKill);
}

// The run killed between a person's two follow-ups of one day: the first is
// committed, the second waits for a terminal's lock. The day stays open in
// the record, and the next plain run completes it without booking the first
// again: the night ends as a quiet one.
// The run killed while a follow-up waits, and then, in a run of three
// workers, only the worker that waits: the next plain run completes the
// night, every person once.
TEST_F(Conflicts, DayCutShortIsCompletedByTheNextRun) {
  RunQuietly();
  for (const bool worker : {false, true}) {
    SCOPED_TRACE(worker ? "a worker killed" : "the run killed");
    if (worker) {
      Recreate();
      Seed();
    }
    auto terminal = Terminal();
    terminal->Exec("INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES"
                   " ('10000008', CURDATE() - INTERVAL 1 DAY,"
                   " TIMESTAMP(CURDATE() - INTERVAL 1 DAY, '00:00:00'), 1, 'KF')");
    Spawned run = Start("D", worker ? std::vector<std::string>{"--workers=3"}
                                    : std::vector<std::string>{});
    // The cancellation of UHF waits for the terminal's row beside it.
    ASSERT_TRUE(WaitForStatement("UPDATE QEL321Bch", "10000008"));
    if (worker) {
      // The last slice's worker, found among the run's children by its name.
      pid_t last = 0;
      std::istringstream children(ReadFile("/proc/" + std::to_string(run.pid) + "/task/" +
                                           std::to_string(run.pid) + "/children"));
      for (pid_t child = 0; children >> child;) {
        if (ReadFile("/proc/" + std::to_string(child) + "/comm") == "pirzol-w3\n") last = child;
      }
      ASSERT_GT(last, 0);
      kill(last, SIGKILL);
      RunResult cut = WaitProgram(run);
      EXPECT_EQ(cut.status, 3) << cut.err;
      EXPECT_NE(cut.err.find("worker 3 was ended by signal 9"), std::string::npos) << cut.err;
    } else {
      kill(run.pid, SIGKILL);
      EXPECT_EQ(WaitProgram(run).status, -1);
    }
    terminal->Exec("ROLLBACK");
    EXPECT_EQ(Admin()->Query("SELECT LatErg FROM Qel951Lat WHERE LatPnr = '10000008'"),
              (Rows{{"open"}}));
    RunResult r = WaitProgram(Start());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(TableState(), quietState_);
    EXPECT_EQ(Unclosed(), "0");
    EXPECT_EQ(SortedLines(ParamFile()), SortedLines(quietParams_));
  }
}

}  // namespace
