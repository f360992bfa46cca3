// Test support: a private Galera cluster of the test's own (scripts/dbserver
// cluster), for tests of what the batch meets on several nodes: replication,
// certification conflicts, node-local named locks, a node going away.
#ifndef PIRZOL_TESTS_SUPPORT_CLUSTER_H_
#define PIRZOL_TESTS_SUPPORT_CLUSTER_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "support/dbtest.h"

class Cluster {
 public:
  // Nodes live in dir/node1..N; nothing starts before Start.
  Cluster(std::string dir, int nodes);
  // Stops whatever of the cluster still runs.
  ~Cluster();
  Cluster(const Cluster&) = delete;
  Cluster& operator=(const Cluster&) = delete;

  // Starts every node and waits until all are Synced. Answers "" on success,
  // else why the cluster did not come up, as the script said it.
  std::string Start();
  // Ends every node and what was started for it. Answers "" when no process
  // of the cluster is left, else what is.
  std::string Stop();
  // Ends node k the hard way, as a crash would; its peers evict it after a
  // few seconds, and commits stall until then.
  std::string Kill(int k);
  // Starts node k again; it catches up by incremental transfer.
  std::string Restart(int k);

  int nodes() const { return nodes_; }
  std::string Socket(int k) const { return NodeDir(k) + "/mysqld.sock"; }
  std::string NodeDir(int k) const { return dir_ + "/node" + std::to_string(k); }
  // Node k's server pid as the script keeps it, 0 when there is none.
  int Pid(int k) const;
  // Running processes that name the cluster's folder: servers, state
  // transfer scripts, rsync daemons.
  std::vector<int> Processes() const;

 private:
  std::string Script(const std::vector<std::string>& args);
  std::string dir_;
  int nodes_;
  bool started_ = false;
};

// The value of a server status variable as node session sees it.
std::string Status(AdminSession& node, const std::string& name);

// A suite on a three-node cluster of its own, in $PIRZOL_CLUSTER_DIR with
// Suite::kSuffix appended, started once for the suite and stopped after it.
// A machine without what a cluster needs skips the tests with the reason;
// CI has it all, so there it is a failure.
template <typename Suite>
class ClusterSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* dir = std::getenv("PIRZOL_CLUSTER_DIR");
    if (dir == nullptr) {
      why_ = "PIRZOL_CLUSTER_DIR is not set";
      return;
    }
    cluster_ = std::make_unique<Cluster>(std::string(dir) + Suite::kSuffix, 3);
    why_ = cluster_->Start();
  }
  static void TearDownTestSuite() {
    if (cluster_ == nullptr) return;
    EXPECT_EQ(cluster_->Stop(), "") << "the stop left the cluster running";
    cluster_.reset();
  }
  void SetUp() override {
    if (why_.empty()) return;
    const char* ci = std::getenv("CI");
    if (ci != nullptr && std::string(ci) == "true") FAIL() << "cluster did not start: " << why_;
    GTEST_SKIP() << "no cluster on this machine: " << why_;
  }

  static inline std::unique_ptr<Cluster> cluster_;
  static inline std::string why_;
};

#endif  // PIRZOL_TESTS_SUPPORT_CLUSTER_H_
