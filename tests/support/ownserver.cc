#include "support/ownserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace {

// A port of 127.0.0.1 that nothing listens on: the kernel's choice, handed
// back for the server to take.
int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t len = sizeof addr;
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), len), 0);
  EXPECT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  close(fd);
  return ntohs(addr.sin_port);
}

// Beside the run's server in the build tree, one folder per server.
std::string NewDir() {
  static int servers = 0;
  return std::string(std::getenv("PIRZOL_DB_DIR")) + "-own" + std::to_string(getpid()) + "-" +
         std::to_string(++servers);
}

}  // namespace

OwnServer::OwnServer(const std::vector<std::string>& options) : dir_(NewDir()) { Start(options); }

OwnServer::OwnServer(Tls) : dir_(NewDir()), port_(FreePort()) {
  const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2";
  const std::string make =
      "(mkdir -p '" + dir_ + "' && cd '" + dir_ + "' && openssl req -x509" + key +
      " -subj /CN=pirzol-test-ca -keyout ca-key.pem -out ca.pem && for w in server client; do"
      " openssl req -x509" + key + " -CA ca.pem -CAkey ca-key.pem -subj /CN=127.0.0.1 -addext"
      " basicConstraints=CA:FALSE -addext subjectAltName=IP:127.0.0.1 -keyout $w-key.pem"
      " -out $w.pem || exit 1; done) >/dev/null 2>&1";
  EXPECT_EQ(std::system(make.c_str()), 0) << make;
  // The script starts servers without networking; the later setting wins.
  Start({"--skip-networking=0", "--bind-address=127.0.0.1", "--port=" + std::to_string(port_),
         "--require-secure-transport=ON", "--ssl-ca=" + File("ca.pem"),
         "--ssl-cert=" + File("server.pem"), "--ssl-key=" + File("server-key.pem")});
}

OwnServer::~OwnServer() {
  Script("stop");
  EXPECT_EQ(std::system(("rm -rf '" + dir_ + "'").c_str()), 0);
}

void OwnServer::Start(const std::vector<std::string>& options) {
  for (const std::string& o : options) options_ += " '" + o + "'";
  Script("start");
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

Spawned OwnServerBatch::Start(const std::string& sw, const std::vector<std::string>& options) {
  std::vector<std::string> args = {ini_, "XXX", sw};
  args.insert(args.end(), options.begin(), options.end());
  return SpawnProgram(PirzolBin(), args, work_.path(),
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

void SeedTwoFollowUps(AdminSession& a, const std::string& pnr) {
  const std::string p = "'" + pnr + "'", y = "CURDATE() - INTERVAL 1 DAY",
                    l = "CURDATE() - INTERVAL 2 DAY";
  a.Exec("INSERT INTO Qel327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd, TagTgb, TagTgs,"
         " TagHtv, TagHvs, TagHtn, TagHns) VALUES (" + p + ", " + y + ", " + y + ", TIMESTAMP(" +
         y + ", '12:00:00'), " + y + ", TIMESTAMP(" + y + ", '12:00:00'), '', 0, '', 0, '', 0),"
         " (" + p + ", " + l + ", " + l + ", TIMESTAMP(" + l + ", '07:00:00'), " + l +
         ", TIMESTAMP(" + l + ", '15:30:00'), 'K', 480, '', 0, '', 0)");
  a.Exec("INSERT INTO Qel320Tgb (TgbPnr, TgbDtm, TgbZtr, TgbSol) SELECT TagPnr, TagTag, 1, 480"
         " FROM Qel327Tag WHERE TagPnr = " + p);
  a.Exec("INSERT INTO Qel329Ztg (ZtgPnr, ZtgVon, ZtgAzt, ZtgSta) VALUES (" + p + ", " + y +
         ", 'VZ40', 0)");
  // Read in time order: UH first (UHF booked), then K (KF, stronger, cancels it).
  a.Exec("INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES (" + p + ", " +
         l + ", TIMESTAMP(" + l + ", '00:00:00'), 2, 'UH'), (" + p + ", " + l + ", TIMESTAMP(" +
         l + ", '06:00:00'), 1, 'K')");
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
