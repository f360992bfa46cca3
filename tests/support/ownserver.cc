#include "support/ownserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

// A new folder beside the run's server (PIRZOL_DB_DIR) in the build tree.
std::string NewServerDir() {
  const char* runDb = std::getenv("PIRZOL_DB_DIR");
  std::string parent = runDb != nullptr ? runDb : "/tmp/pirzol";
  parent = parent.substr(0, parent.rfind('/'));
  std::string tmpl = parent + "/ownserver-XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  EXPECT_NE(mkdtemp(name.data()), nullptr) << tmpl;
  return name.data();
}

// A port of 127.0.0.1 that nothing listens on: the kernel's choice, given
// back at once for the server to take.
int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  close(fd);
  EXPECT_GT(port, 0);
  return port;
}

}  // namespace

OwnServer::OwnServer(const std::vector<std::string>& options) : dir_(NewServerDir()) {
  for (const std::string& o : options) options_ += " '" + o + "'";
  Script("start");
}

OwnServer::OwnServer(Tls) : dir_(NewServerDir()), port_(FreePort()) {
  const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  const std::string make =
      "cd '" + dir_ + "' && openssl req -x509" + ec + " -days 2 -subj /CN=pirzol-test-ca"
      " -keyout ca-key.pem -out ca.pem && for who in server client; do"
      " openssl req" + ec + " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1"
      " -keyout $who-key.pem -out $who.csr && openssl x509 -req -in $who.csr -CA ca.pem"
      " -CAkey ca-key.pem -CAcreateserial -days 2 -copy_extensions copy -out $who.pem"
      " || exit 1; done >/dev/null 2>&1";
  EXPECT_EQ(std::system(make.c_str()), 0) << make;
  // The script starts servers without networking; the later setting wins.
  for (const std::string& o :
       {std::string("--skip-networking=0"), std::string("--bind-address=127.0.0.1"),
        "--port=" + std::to_string(port_), std::string("--require-secure-transport=ON"),
        "--ssl-ca=" + File("ca.pem"), "--ssl-cert=" + File("server.pem"),
        "--ssl-key=" + File("server-key.pem")}) {
    options_ += " '" + o + "'";
  }
  Script("start");
}

OwnServer::~OwnServer() {
  Script("stop");
  std::string rm = "rm -rf '" + dir_ + "'";
  if (std::system(rm.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", dir_.c_str());
}

void OwnServer::Kill() {
  pid_t pid = std::atoi(ReadFile(File("mysqld.pid")).c_str());
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  for (int i = 0; i < 500 && kill(pid, 0) == 0; ++i) usleep(10000);
}

void OwnServer::Resume() { Script("resume"); }

void OwnServer::Script(const std::string& cmd) {
  std::string line = std::string(std::getenv("PIRZOL_SOURCE_DIR")) + "/scripts/dbserver " + cmd +
                     " " + dir_;
  if (cmd != "stop") line += " --durable" + (options_.empty() ? "" : " --" + options_);
  line += " >/dev/null";
  ASSERT_EQ(std::system(line.c_str()), 0) << line;
}

void OwnServerBatch::SetUp() {
  ini_ = work_.File("pirzol.ini");
  WriteIni(ini_, kTestUser, kTestPass, "localhost", "pznight");
  admin_ = std::make_unique<AdminSession>(server_.Socket().c_str());
  Recreate();
}

void OwnServerBatch::Recreate() {
  admin_->Exec("DROP DATABASE IF EXISTS pznight");
  admin_->Exec("CREATE DATABASE pznight");
  admin_->Exec("USE pznight");
  admin_->ExecFile(std::string(std::getenv("PIRZOL_SOURCE_DIR")) + "/sql/schema.sql");
}

Spawned OwnServerBatch::Start(const std::string& sw) {
  return SpawnProgram(PirzolBin(), {ini_, "XXX", sw}, work_.path(),
                      {"MYSQL_UNIX_PORT=" + server_.Socket()});
}

void OwnServerBatch::SeedDemo() {
  admin_->ExecFile(std::string(std::getenv("PIRZOL_SOURCE_DIR")) + "/sql/demo.sql");
}

void OwnServerBatch::SeedSickWithFlexitime(int persons) { SeedSickNight(*admin_, persons); }

Rows OwnServerBatch::SickStates() { return ::SickStates(*admin_, "pznight"); }

std::vector<std::string> OwnServerBatch::ListedPersons() { return ::ListedPersons(ParamFile()); }

std::vector<std::string> OwnServerBatch::PersonsWithFollowUp() {
  return ::PersonsWithFollowUp(*admin_, "pznight");
}

void SeedSickNight(AdminSession& a, int persons) {
  a.Exec("INSERT INTO Qel131Fcd (FcdNum, FcdTyp, FcdZwt, FcdStd, FcdSol, FcdPri, FcdGpu,"
         " FcdFcd, FcdFlg) VALUES ('K', 1, 1, 0, 0, 5, 0, NULL, 'KF'),"
         " ('KF', 1, 1, 0, 0, 5, 1, NULL, 'KF'), ('GL', 1, 0, 0, 0, 9, 0, NULL, NULL)");
  a.Exec("INSERT INTO Qel140Azv (AzvNum, AzvGvo, AzvGbi, AzvSol, AzvSo2, AzvVhs, AzvHso,"
         " AzvHs2, AzvHtv, AzvSta) VALUES ('R8', '2000-01-01', NULL, 480, 0, 0, 0, 0, 0, 0)");
  const std::string all = "(SELECT LPAD(seq, 8, '0') AS pnr FROM seq_1_to_" +
                          std::to_string(persons) + ") p";
  a.Exec("INSERT INTO Qel327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd, TagTgb,"
         " TagTgs, TagHtv, TagHvs, TagHtn, TagHns)"
         " SELECT pnr, d, d, TIMESTAMP(d, IF(o = 1, '12:00:00', '07:00:00')), d,"
         " TIMESTAMP(d, IF(o = 1, '12:00:00', '15:00:00')), IF(o = 1, '', 'K'),"
         " IF(o = 1, 0, 480), '', 0, '', 0 FROM " + all +
         " JOIN (SELECT 1 AS o, CURDATE() - INTERVAL 1 DAY AS d UNION ALL"
         " SELECT 2, CURDATE() - INTERVAL 2 DAY) days");
  a.Exec("INSERT INTO Qel320Tgb (TgbPnr, TgbDtm, TgbZtr, TgbSol)"
         " SELECT TagPnr, TagTag, 1, 480 FROM Qel327Tag");
  a.Exec("INSERT INTO Qel329Ztg (ZtgPnr, ZtgVon, ZtgAzt, ZtgSta)"
         " SELECT pnr, CURDATE() - INTERVAL 1 DAY, 'R8', 0 FROM " + all);
  a.Exec("INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd)"
         " SELECT pnr, CURDATE() - INTERVAL 2 DAY,"
         " TIMESTAMP(CURDATE() - INTERVAL 2 DAY, '00:00:00'), 1, 'K' FROM " + all +
         " UNION ALL SELECT pnr, CURDATE() - INTERVAL 1 DAY,"
         " TIMESTAMP(CURDATE() - INTERVAL 1 DAY, '00:00:00'), 1, 'GL' FROM " + all);
}

Rows SickStates(AdminSession& a, const std::string& db) {
  return a.Query(
      "SELECT state, COUNT(*) FROM (SELECT t.TagPnr, CONCAT(COUNT(kf.BchPnr), '/',"
      " MAX(gl.BchFkt), '/', MAX(t.TagTgb)) AS state FROM " + db + ".Qel327Tag t"
      " JOIN " + db + ".Qel321Bch gl ON gl.BchPnr = t.TagPnr AND gl.BchFcd = 'GL'"
      " LEFT JOIN " + db + ".Qel321Bch kf ON kf.BchPnr = t.TagPnr AND kf.BchFcd = 'KF'"
      " WHERE t.TagTag = CURDATE() - INTERVAL 1 DAY GROUP BY t.TagPnr) s"
      " GROUP BY state ORDER BY state");
}

std::vector<std::string> ListedPersons(const std::string& paramFile) {
  std::vector<std::string> pnrs;
  std::istringstream in(paramFile);
  for (std::string line; std::getline(in, line);) pnrs.push_back(line.substr(0, line.find(',')));
  std::sort(pnrs.begin(), pnrs.end());
  return pnrs;
}

std::vector<std::string> PersonsWithFollowUp(AdminSession& a, const std::string& db) {
  std::vector<std::string> pnrs;
  for (const auto& row : a.Query("SELECT BchPnr FROM " + db + ".Qel321Bch WHERE BchFcd = 'KF'"
                                 " ORDER BY BchPnr")) {
    pnrs.push_back(row[0]);
  }
  return pnrs;
}
