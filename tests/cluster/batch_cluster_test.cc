// The batch on a three-node cluster: two runs started on two nodes at once,
// a writer on another node touching the same rows while a run works, and a
// node killed under a run. Each night is held against a quiet one.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/cluster.h"
#include "support/ownserver.h"

namespace {

constexpr char kDb[] = "pzc";
constexpr int kPersons = 1500;

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++n;
  }
  return n;
}

class BatchOnCluster : public ClusterSuite<BatchOnCluster> {
 public:
  static constexpr char kSuffix[] = "-batch";

 protected:
  void SetUp() override {
    ClusterSuite::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    WriteIni(ini_, kTestUser, kTestPass, "localhost", kDb);
    Reseed();
  }

  // The night made anew on node 1; the others have it once they are synced.
  void Reseed() {
    AdminSession a(cluster_->Socket(1).c_str());
    a.Exec(std::string("DROP DATABASE IF EXISTS ") + kDb);
    a.Exec(std::string("CREATE DATABASE ") + kDb);
    a.Exec(std::string("USE ") + kDb);
    a.ExecFile(std::string(std::getenv("PIRZOL_SOURCE_DIR")) + "/sql/schema.sql");
    SeedSickNight(a, kPersons);
  }

  Spawned Start(int node, const TempDir& work, const std::string& option = "") {
    std::vector<std::string> args = {ini_, "XXX", "D"};
    if (!option.empty()) args.push_back(option);
    return SpawnProgram(PirzolBin(), args, work.path(),
                        {"MYSQL_UNIX_PORT=" + cluster_->Socket(node)});
  }

  // Waits until the run has committed a few dozen follow-ups (a worker's
  // log reaches pirzol.log only when its night ends).
  void WaitForProgress() {
    auto n = Node(1);
    for (int i = 0; i < 3000 && std::atoi(n->Query("SELECT COUNT(*) FROM Qel321Bch WHERE"
                                                   " BchFcd = 'KF'")[0][0].c_str()) < 50; ++i) {
      usleep(10000);
    }
  }

  // A session on node k that waits for what the cluster has committed.
  std::unique_ptr<AdminSession> Node(int k) {
    auto s = std::make_unique<AdminSession>(cluster_->Socket(k).c_str());
    s->Exec("SET SESSION wsrep_sync_wait = 1");
    s->Exec(std::string("USE ") + kDb);
    return s;
  }

  std::string State(int node) {
    auto s = Node(node);
    return TableState(*s, kDb);
  }

  TempDir conf_;
  std::string ini_ = conf_.File("pirzol.ini");
};

// The named lock is each node's own: only the lease keeps the two apart.
TEST_F(BatchOnCluster, TwoRunsOnTwoNodesAtOnceHandleTheNightOnce) {
  TempDir one, two;
  Spawned a = Start(1, one);
  Spawned b = Start(2, two);
  RunResult ra = WaitProgram(a, 300), rb = WaitProgram(b, 300);
  const bool aWon = ra.status == 0;
  const RunResult& won = aWon ? ra : rb;
  const RunResult& lost = aWon ? rb : ra;
  EXPECT_EQ(won.status, 0) << ra.err << rb.err;
  EXPECT_EQ(lost.status, 2) << ra.err << rb.err;
  EXPECT_NE(lost.err.find("lease"), std::string::npos) << lost.err;
  EXPECT_FALSE(FileExists((aWon ? two : one).File("pirzoltgb")));
  auto node = Node(3);
  EXPECT_EQ(node->Query("SELECT COUNT(*) FROM Qel950Lau")[0][0], "1");
  EXPECT_EQ(SickStates(*node, kDb), (Rows{{"1/45/KF", std::to_string(kPersons)}}));
  EXPECT_EQ(ListedPersons(ReadFile((aWon ? one : two).File("pirzoltgb"))).size(),
            static_cast<std::size_t>(kPersons));
  EXPECT_EQ(node->Query("SELECT COUNT(*) FROM Qel952Lea WHERE LeaTok IS NULL")[0][0], "1");
}

// A writer on node 2 keeps changing a column of the same accounted days and
// bookings that the batch neither reads nor writes, so conflicts arise while
// the right end state stays known. The run on node 1, in three workers,
// redoes what the cluster aborted and ends as a quiet run in one session does.
TEST_F(BatchOnCluster, ConflictsWithAWriterOnAnotherNodeAreRedone) {
  TempDir quiet;
  ASSERT_EQ(WaitProgram(Start(1, quiet), 300).status, 0);
  const std::string quietState = State(1);
  const std::string quietLines = ReadFile(quiet.File("pirzoltgb"));
  Reseed();
  {
    auto n = Node(1);
    n->Exec("ALTER TABLE Qel327Tag ADD COLUMN TagXtr INT NOT NULL DEFAULT 0");
    n->Exec("ALTER TABLE Qel321Bch ADD COLUMN BchXtr INT NOT NULL DEFAULT 0");
  }
  auto before = Node(1);
  const int aborts0 = std::atoi(Status(*before, "wsrep_local_bf_aborts").c_str()) +
                      std::atoi(Status(*before, "wsrep_local_cert_failures").c_str());

  TempDir work;
  std::atomic<bool> stop{false};
  std::atomic<int> writes{0};
  std::thread writer([&] {
    auto w = Node(2);
    // Bounded in count and time; it also ends when the run does. Each round
    // touches two persons in ten, a different two each time, so the batch
    // meets conflicts but no unit meets one on every try. The
    // writer's own writes lose now and then too; they need not all land.
    for (int i = 0; i < 3000 && !stop; ++i) {
      const std::string digits =
          "('" + std::to_string(i % 10) + "','" + std::to_string((i + 5) % 10) + "')";
      if (w->TryExec("UPDATE Qel327Tag SET TagXtr = TagXtr + 1 WHERE TagTag = CURDATE() -"
                     " INTERVAL 1 DAY AND RIGHT(TagPnr, 1) IN " + digits) == 0 &&
          w->TryExec("UPDATE Qel321Bch SET BchXtr = BchXtr + 1 WHERE BchVon = CURDATE() -"
                     " INTERVAL 1 DAY AND RIGHT(BchPnr, 1) IN " + digits) == 0) {
        ++writes;
      }
      usleep(30000);
    }
  });
  // Under way before the run, which three workers make short.
  for (int i = 0; i < 1000 && writes == 0; ++i) usleep(10000);
  Spawned run = Start(1, work, "--workers=3");
  RunResult r = WaitProgram(run, 600);
  stop = true;
  writer.join();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_GT(writes.load(), 0);
  const int retries = std::atoi(r.err.substr(r.err.rfind(" commits, ") + 10).c_str());
  EXPECT_GT(retries, 0) << r.err;
  auto after = Node(1);
  EXPECT_GT(std::atoi(Status(*after, "wsrep_local_bf_aborts").c_str()) +
                std::atoi(Status(*after, "wsrep_local_cert_failures").c_str()),
            aborts0);
  EXPECT_EQ(Count(ReadFile(work.File("pirzol.log")), "Info: Arbeitseinheit wird wiederholt!"),
            retries);
  after->Exec("ALTER TABLE Qel327Tag DROP COLUMN TagXtr");
  after->Exec("ALTER TABLE Qel321Bch DROP COLUMN BchXtr");
  EXPECT_EQ(State(1), quietState);
  EXPECT_EQ(ReadFile(work.File("pirzoltgb")), quietLines);
  std::fprintf(stderr, "writer: %d rounds, run: %d retries\n", writes.load(), retries);
}

// A node killed under a run: the run on a surviving node completes, or ends
// with 3 with nothing half done; the run connected to the killed node ends
// with 3, and the next plain run completes the night.
TEST_F(BatchOnCluster, NodeKilledUnderARunLeavesNothingHalfDone) {
  for (int killed : {3, 2}) {
    SCOPED_TRACE("node " + std::to_string(killed) + " killed");
    if (killed == 2) Reseed();
    TempDir work;
    Spawned run = Start(2, work);
    WaitForProgress();
    ASSERT_EQ(cluster_->Kill(killed), "");
    RunResult r = WaitProgram(run, 600);
    if (killed == 2) {
      EXPECT_EQ(r.status, 3) << r.err;
    } else {
      EXPECT_TRUE(r.status == 0 || r.status == 3) << r.err;
    }
    auto node = Node(1);
    Rows states = SickStates(*node, kDb);
    for (const auto& row : states) {
      EXPECT_TRUE(row[0] == "1/45/KF" || row[0] == "0/1/") << "half done: " << row[0];
    }
    if (r.status != 0) {
      TempDir next;
      RunResult again = WaitProgram(Start(1, next), 600);
      EXPECT_EQ(again.status, 0) << again.err;
      EXPECT_EQ(SickStates(*node, kDb), (Rows{{"1/45/KF", std::to_string(kPersons)}}));
    }
    ASSERT_EQ(cluster_->Restart(killed), "");
  }
}

// Another node takes the lease over while a run of three workers works: no
// worker commits anything after that, and the run stops with 3. A dry run will not start beside the
// live lease; with the lease free it takes none and leaves every table, the
// lease's included, as it was.
TEST_F(BatchOnCluster, LeaseTakenOverStopsTheRunAndDryRunsCommitNothing) {
  TempDir work;
  Spawned run = Start(1, work, "--workers=3");
  WaitForProgress();
  // As a run takes it over: the lease's row and its workers' rows. Its
  // certification loses against a worker's commit of the same row now and
  // then; it is taken again until it lands.
  auto other = Node(2);
  int rc = 1213;
  for (int i = 0; i < 200 && rc == 1213; ++i) {
    rc = other->TryExec("UPDATE Qel952Lea SET LeaTok = 'elsewhere:1:1', LeaHst = 'elsewhere',"
                        " LeaHbt = UTC_TIMESTAMP(6)");
  }
  ASSERT_EQ(rc, 0);
  const std::string kf = "SELECT COUNT(*) FROM Qel321Bch WHERE BchFcd = 'KF'";
  const std::string atTakeover = other->Query(kf)[0][0];
  RunResult r = WaitProgram(run, 300);
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("lease"), std::string::npos) << r.err;
  EXPECT_EQ(Node(3)->Query(kf)[0][0], atTakeover);
  EXPECT_LT(std::atoi(atTakeover.c_str()), kPersons);
  for (const auto& row : SickStates(*other, kDb)) {
    EXPECT_TRUE(row[0] == "1/45/KF" || row[0] == "0/1/") << "half done: " << row[0];
  }

  auto sums = [&] {
    std::string all;
    for (const char* t : {"Qel327Tag", "Qel320Tgb", "Qel321Bch", "Qel131Fcd", "Qel329Ztg",
                          "Qel140Azv", "Qel950Lau", "Qel951Lat", "Qel952Lea"}) {
      all += Node(1)->Query(std::string("CHECKSUM TABLE ") + t)[0][1] + ",";
    }
    return all;
  };
  TempDir dry;
  const std::string held = sums();
  RunResult refused = WaitProgram(Start(1, dry, "--dry-run"), 300);
  EXPECT_EQ(refused.status, 2) << refused.err;
  EXPECT_NE(refused.err.find("holds the database's lease"), std::string::npos) << refused.err;
  other->Exec("UPDATE Qel952Lea SET LeaTok = NULL WHERE LeaKey = 'run'");
  const std::string before = sums();
  RunResult looked = WaitProgram(Start(1, dry, "--dry-run"), 300);
  EXPECT_EQ(looked.status, 0) << looked.err;
  EXPECT_NE(looked.err.find(" 0 commits,"), std::string::npos) << looked.err;
  EXPECT_EQ(sums(), before);
  EXPECT_NE(held, before);
}

}  // namespace
