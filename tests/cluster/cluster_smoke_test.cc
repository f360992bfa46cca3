// A three-node cluster as the batch will meet it: every node a member,
// a commit on one node readable on another, a named lock that each node
// grants on its own, a crashed node catching up, and nothing left running
// after the stop.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "support/cluster.h"

namespace {

// The one value a query answers, "(none)" when it answers no row.
std::string Value(AdminSession& node, const std::string& sql) {
  Rows r = node.Query(sql);
  return r.empty() || r[0].empty() ? std::string("(none)") : r[0][0];
}

class ClusterSmoke : public ClusterSuite<ClusterSmoke> {
 public:
  static constexpr char kSuffix[] = "";
};

TEST_F(ClusterSmoke, EveryNodeIsASyncedMemberOfTheSameCluster) {
  AdminSession first(cluster_->Socket(1).c_str());
  const std::string uuid = Status(first, "wsrep_cluster_state_uuid");
  for (int k = 1; k <= 3; ++k) {
    SCOPED_TRACE("node " + std::to_string(k));
    AdminSession node(cluster_->Socket(k).c_str());
    EXPECT_EQ(Status(node, "wsrep_cluster_size"), "3");
    EXPECT_EQ(Status(node, "wsrep_local_state_comment"), "Synced");
    EXPECT_EQ(Status(node, "wsrep_cluster_state_uuid"), uuid);
    // The batch's session checks this and refuses a server without it.
    EXPECT_EQ(Value(node, "SELECT @@lower_case_table_names"), "1");
  }
}

TEST_F(ClusterSmoke, RowCommittedOnFirstNodeIsReadOnThird) {
  AdminSession first(cluster_->Socket(1).c_str());
  first.Exec("CREATE DATABASE IF NOT EXISTS pzcluster");
  first.Exec("CREATE TABLE IF NOT EXISTS pzcluster.t (id INT PRIMARY KEY, v VARCHAR(8))");
  first.Exec("REPLACE INTO pzcluster.t VALUES (1, 'written')");
  AdminSession third(cluster_->Socket(3).c_str());
  // Without it the read may come before the third node has applied the commit.
  third.Exec("SET SESSION wsrep_sync_wait = 1");
  EXPECT_EQ(Value(third, "SELECT v FROM pzcluster.t WHERE id = 1"), "written");
}

// Two batch runs on two nodes would both get their database's named lock:
// the cluster does not replicate it, so the batch cannot rely on it there.
TEST_F(ClusterSmoke, NamedLockIsGrantedOnTwoNodesAtOnce) {
  AdminSession holder(cluster_->Socket(1).c_str());
  ASSERT_EQ(Value(holder, "SELECT GET_LOCK('x', 0)"), "1");
  AdminSession sameNode(cluster_->Socket(1).c_str());
  EXPECT_EQ(Value(sameNode, "SELECT GET_LOCK('x', 0)"), "0") << "held on its own node";
  AdminSession otherNode(cluster_->Socket(2).c_str());
  EXPECT_EQ(Value(otherNode, "SELECT GET_LOCK('x', 0)"), "1");
  holder.Exec("DO RELEASE_LOCK('x')");
  otherNode.Exec("DO RELEASE_LOCK('x')");
}

// A node killed while the others go on committing comes back with only what
// it missed (an incremental transfer, not a full copy) and sees it.
TEST_F(ClusterSmoke, KilledNodeCatchesUpIncrementally) {
  ASSERT_EQ(cluster_->Kill(3), "");
  {
    AdminSession first(cluster_->Socket(1).c_str());
    // Commits stall until the others have evicted the dead node.
    for (int i = 0; i < 200 && Status(first, "wsrep_cluster_size") != "2"; ++i) usleep(50000);
    ASSERT_EQ(Status(first, "wsrep_cluster_size"), "2");
    first.Exec("CREATE DATABASE IF NOT EXISTS pzcluster");
    first.Exec("CREATE TABLE IF NOT EXISTS pzcluster.missed (id INT PRIMARY KEY)");
    first.Exec("INSERT INTO pzcluster.missed VALUES (1), (2)");
  }
  ASSERT_EQ(cluster_->Restart(3), "");
  AdminSession third(cluster_->Socket(3).c_str());
  EXPECT_EQ(Status(third, "wsrep_cluster_size"), "3");
  third.Exec("SET SESSION wsrep_sync_wait = 1");
  EXPECT_EQ(Value(third, "SELECT COUNT(*) FROM pzcluster.missed"), "2");
  // The server's log is the only place that tells the two kinds of catching up apart.
  const std::string log = ReadFile(cluster_->NodeDir(3) + "/error.log");
  const size_t at = log.rfind("WSREP: Loading provider");
  const std::string restart = at == std::string::npos ? log : log.substr(at);
  EXPECT_NE(restart.find("rsync IST completed on joiner"), std::string::npos) << restart;
  EXPECT_EQ(restart.find("rsync SST completed on joiner"), std::string::npos) << "a full copy";
}

}  // namespace
