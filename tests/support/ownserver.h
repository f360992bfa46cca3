// Test support: a private server of the test's own, beside the shared one of
// the test run, for tests that kill it or need a server setting of their own.
#ifndef PIRZOL_TESTS_SUPPORT_OWNSERVER_H_
#define PIRZOL_TESTS_SUPPORT_OWNSERVER_H_

#include <memory>
#include <string>
#include <vector>

#include "support/dbtest.h"

// Its folder lies in the build tree, beside the test run's server, and goes
// with the object; the server is stopped by its pid.
class OwnServer {
 public:
  // A server that also listens on 127.0.0.1 at Port(), there only over TLS,
  // with certificates made by openssl in its folder: ca.pem, and signed by
  // it server.pem (for 127.0.0.1) and client.pem, each with its -key.pem.
  struct Tls {};

  // options go to the server as they are ("--innodb-lock-wait-timeout=1").
  explicit OwnServer(const std::vector<std::string>& options = {});
  explicit OwnServer(Tls);
  ~OwnServer();
  OwnServer(const OwnServer&) = delete;
  OwnServer& operator=(const OwnServer&) = delete;
  std::string File(const std::string& name) const { return dir_ + "/" + name; }
  std::string Socket() const { return File("mysqld.sock"); }
  int Port() const { return port_; }
  // Ends the server the hard way, by its pid, as a crash or an operator would.
  void Kill();
  // Starts it again on the data it holds.
  void Resume();

 private:
  void Start(const std::vector<std::string>& options);
  void Script(const std::string& cmd);
  std::string dir_;
  std::string options_;
  int port_ = 0;
};

// The batch's binary against database pznight on a server of its own.
class OwnServerBatch : public ::testing::Test {
 protected:
  explicit OwnServerBatch(const std::vector<std::string>& options = {}) : server_(options) {}
  explicit OwnServerBatch(OwnServer::Tls tls) : server_(tls) {}
  void SetUp() override;
  // Drops pznight and makes it anew from the schema.
  void Recreate();
  // A session on pznight of the own server.
  AdminSession* Admin() { return admin_.get(); }
  Spawned Start(const std::string& sw = "D", const std::vector<std::string>& options = {});
  std::string Log() { return ReadFile(work_.File("pirzol.log")); }
  std::string ParamFile() { return ReadFile(work_.File("pirzoltgb")); }
  // The demo's persons (sql/demo.sql).
  void SeedDemo();
  // persons persons, each continuing a sickness (K followed by KF) with a
  // weaker flexitime day (GL) on the accounted day: one follow-up is a
  // cancellation, an insert and a slot update, committed together.
  void SeedSickWithFlexitime(int persons);
  // Per state "follow-ups/function of GL/slot 1", how many persons are in it.
  Rows SickStates();
  // The personnel numbers of the parameter file's lines, and those whose
  // follow-up KF is committed, each sorted.
  std::vector<std::string> ListedPersons();
  std::vector<std::string> PersonsWithFollowUp();

  OwnServer server_;
  TempDir work_;
  std::string ini_;
  std::unique_ptr<AdminSession> admin_;
};

// A night of many persons on a's present database, each continuing a
// sickness (K followed by KF, which cancels its equal) with a weaker
// flexitime day (GL) on the accounted day: one follow-up is a cancellation,
// an insert and a slot update, committed together.
void SeedSickNight(AdminSession& a, int persons);
// A person of the demo's types whose last message day carries two day
// messages: the first one's follow-up (UHF) is booked, then cancelled by
// the second's (KF).
void SeedTwoFollowUps(AdminSession& a, const std::string& pnr);
// Per state "follow-ups/function of GL/slot 1" of db's accounted days, how
// many persons are in it: "1/45/KF" wholly done, "0/1/" untouched.
Rows SickStates(AdminSession& a, const std::string& db);
// The personnel numbers of a parameter file's lines, and those of db whose
// follow-up KF is committed, each sorted.
std::vector<std::string> ListedPersons(const std::string& paramFile);
std::vector<std::string> PersonsWithFollowUp(AdminSession& a, const std::string& db);

#endif  // PIRZOL_TESTS_SUPPORT_OWNSERVER_H_
