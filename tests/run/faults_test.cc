// Faults a nightly run must survive: its server going away before or during
// the run, files it cannot write, statements the server refuses.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "support/batch.h"

namespace {

// A server of the test's own, so that stopping it cannot hurt other tests.
class OwnServer {
 public:
  OwnServer() { Script("start"); }
  ~OwnServer() { Script("stop"); }
  std::string Socket() const { return dir_.File("mysqld.sock"); }
  // Ends the server the hard way, by its pid, as a crash or an operator would.
  void Kill() {
    pid_t pid = std::atoi(ReadFile(dir_.File("mysqld.pid")).c_str());
    ASSERT_GT(pid, 0);
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    for (int i = 0; i < 500 && kill(pid, 0) == 0; ++i) usleep(10000);
  }
  void Resume() { Script("resume"); }

 private:
  void Script(const char* cmd) {
    std::string line = std::string(std::getenv("PIRZOL_SOURCE_DIR")) + "/scripts/dbserver " +
                       cmd + " " + dir_.path() + " --durable >/dev/null";
    ASSERT_EQ(std::system(line.c_str()), 0) << line;
  }
  TempDir dir_;
};

class OwnServerBatch : public ::testing::Test {
 protected:
  void SetUp() override {
    ini_ = work_.File("pirzol.ini");
    WriteIni(ini_, kTestUser, kTestPass, "localhost", "pznight");
    AdminSession admin(server_.Socket().c_str());
    admin.Exec("CREATE DATABASE pznight");
    admin.Exec("USE pznight");
    admin.ExecFile(std::string(std::getenv("PIRZOL_SOURCE_DIR")) + "/sql/schema.sql");
  }
  Spawned Start() {
    return SpawnProgram(PirzolBin(), {ini_, "XXX", "D"}, work_.path(),
                        {"MYSQL_UNIX_PORT=" + server_.Socket()});
  }
  std::string Log() { return ReadFile(work_.File("pirzol.log")); }

  OwnServer server_;
  TempDir work_;
  std::string ini_;
};

TEST_F(OwnServerBatch, ServerGoneBeforeTheRunStopsItBeforeAnything) {
  server_.Kill();
  RunResult r = WaitProgram(Start(), 120);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("(2002)"), std::string::npos) << r.err;
  EXPECT_NE(Log().find("Fehler(DB-Connect)! RC:2002 Name:pirzol Pwd:********"),
            std::string::npos)
      << Log();
  EXPECT_FALSE(FileExists(work_.File("pirzoltgb")));
}

// Many persons, each continuing a sickness with a weaker flexitime day on the
// accounted day: one follow-up is an insert, a cancellation and a slot update,
// committed together. The server is killed while the run is between persons;
// afterwards each person must show all three changes or none.
TEST_F(OwnServerBatch, ServerKilledMidRunLeavesEachPersonWhollyDoneOrUntouched) {
  constexpr int kPersons = 3000;
  {
    AdminSession admin(server_.Socket().c_str());
    admin.Exec("USE pznight");
    admin.Exec("INSERT INTO Qel131Fcd (FcdNum, FcdTyp, FcdZwt, FcdStd, FcdSol, FcdPri, FcdGpu,"
               " FcdFcd, FcdFlg) VALUES ('K', 1, 1, 0, 0, 5, 0, NULL, 'KF'),"
               " ('KF', 1, 1, 0, 0, 5, 1, NULL, 'KF'), ('GL', 1, 0, 0, 0, 9, 0, NULL, NULL)");
    admin.Exec("INSERT INTO Qel140Azv (AzvNum, AzvGvo, AzvGbi, AzvSol, AzvSo2, AzvVhs, AzvHso,"
               " AzvHs2, AzvHtv, AzvSta) VALUES ('R8', '2000-01-01', NULL, 480, 0, 0, 0, 0, 0, 0)");
    const std::string persons = "(SELECT LPAD(seq, 8, '0') AS pnr FROM seq_1_to_" +
                                std::to_string(kPersons) + ") p";
    admin.Exec("INSERT INTO Qel327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd, TagTgb,"
               " TagTgs, TagHtv, TagHvs, TagHtn, TagHns)"
               " SELECT pnr, d, d, TIMESTAMP(d, IF(o = 1, '12:00:00', '07:00:00')), d,"
               " TIMESTAMP(d, IF(o = 1, '12:00:00', '15:00:00')), IF(o = 1, '', 'K'),"
               " IF(o = 1, 0, 480), '', 0, '', 0 FROM " + persons +
               " JOIN (SELECT 1 AS o, CURDATE() - INTERVAL 1 DAY AS d UNION ALL"
               " SELECT 2, CURDATE() - INTERVAL 2 DAY) days");
    admin.Exec("INSERT INTO Qel320Tgb (TgbPnr, TgbDtm, TgbZtr, TgbSol)"
               " SELECT TagPnr, TagTag, 1, 480 FROM Qel327Tag");
    admin.Exec("INSERT INTO Qel329Ztg (ZtgPnr, ZtgVon, ZtgAzt, ZtgSta)"
               " SELECT pnr, CURDATE() - INTERVAL 1 DAY, 'R8', 0 FROM " + persons);
    admin.Exec("INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd)"
               " SELECT pnr, CURDATE() - INTERVAL 2 DAY,"
               " TIMESTAMP(CURDATE() - INTERVAL 2 DAY, '00:00:00'), 1, 'K' FROM " + persons +
               " UNION ALL SELECT pnr, CURDATE() - INTERVAL 1 DAY,"
               " TIMESTAMP(CURDATE() - INTERVAL 1 DAY, '00:00:00'), 1, 'GL' FROM " + persons);
  }

  Spawned run = Start();
  // The log is flushed per entry: wait for a few dozen committed persons.
  const std::string kDone = "Info: TagesSatz aktualisiert!";
  int seen = 0;
  for (int i = 0; i < 6000 && seen < 40; ++i) {
    usleep(5000);
    std::string log = Log();
    seen = 0;
    for (size_t at = log.find(kDone); at != std::string::npos; at = log.find(kDone, at + 1)) {
      ++seen;
    }
  }
  ASSERT_GE(seen, 40) << "the run did not get going";
  server_.Kill();
  RunResult r = WaitProgram(run, 300);

  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("exit status 3"), std::string::npos) << r.err;
  const std::string log = Log();
  EXPECT_NE(log.find("Fehler(Db_Commit): Abschluss der Verarbeitung! "), std::string::npos);
  EXPECT_NE(log.find("RC:2006"), std::string::npos);

  server_.Resume();
  AdminSession admin(server_.Socket().c_str());
  // Per person: follow-ups booked / function of the flexitime day / slot 1.
  Rows states = admin.Query(
      "SELECT state, COUNT(*) FROM (SELECT t.TagPnr, CONCAT(COUNT(kf.BchPnr), '/',"
      " MAX(gl.BchFkt), '/', MAX(t.TagTgb)) AS state FROM pznight.Qel327Tag t"
      " JOIN pznight.Qel321Bch gl ON gl.BchPnr = t.TagPnr AND gl.BchFcd = 'GL'"
      " LEFT JOIN pznight.Qel321Bch kf ON kf.BchPnr = t.TagPnr AND kf.BchFcd = 'KF'"
      " WHERE t.TagTag = CURDATE() - INTERVAL 1 DAY GROUP BY t.TagPnr) s"
      " GROUP BY state ORDER BY state");
  ASSERT_EQ(states.size(), 2u) << "a person is half done";
  EXPECT_EQ(states[0][0], "0/1/");     // untouched
  EXPECT_EQ(states[1][0], "1/45/KF");  // wholly done
  const int done = std::atoi(states[1][1].c_str());
  EXPECT_GE(done, seen - 1);  // the last one logged may not have reached its commit
  EXPECT_LT(done, kPersons);
  EXPECT_EQ(done + std::atoi(states[0][1].c_str()), kPersons);
}

class Faults : public BatchTest {};

// Neither the parameter file nor the log can be opened (each name is taken by
// a folder, which stops root too): the database work is still done and
// committed, the lost lines are traced, and the run reports itself incomplete.
TEST_F(Faults, UnwritableParameterFileAndLogLeaveTheBookingsDone) {
  SeedSickness("P1");
  ASSERT_EQ(mkdir(work_.File("pirzoltgb").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(work_.File("pirzol.log").c_str(), 0755), 0);
  RunResult r = Run("XXX", "D");
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("cannot create the parameter file pirzoltgb"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("pirzol.log"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("Parametersatz in Datei schreiben: P1      ," + DottedYesterday()),
            std::string::npos);
  EXPECT_EQ(Committed("SELECT TagTgb, TagTgs FROM " + db_ +
                      ".Qel327Tag WHERE TagTag = CURDATE() - INTERVAL 1 DAY"),
            (Rows{{"KF", "480"}}));
  EXPECT_EQ(Committed("SELECT COUNT(*) FROM " + db_ + ".Qel321Bch WHERE BchFcd = 'KF'")[0][0],
            "1");
}

// The server refuses two statements in the middle of the night: the slot
// update of an hour-message person (the last statement of that person) and
// the cancellation of a weaker booking. Both are logged and the run goes on
// with every later person.
TEST_F(Faults, RefusedStatementsMidRunAreLoggedAndTheRunGoesOn) {
  SeedDemo();
  admin_->Exec("CREATE TRIGGER refuse_slots BEFORE UPDATE ON Qel327Tag FOR EACH ROW"
               " IF NEW.TagPnr = '10000003' THEN"
               " SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'slots locked'; END IF");
  admin_->Exec("CREATE TRIGGER refuse_cancel BEFORE UPDATE ON Qel321Bch FOR EACH ROW"
               " IF NEW.BchPnr = '10000004' THEN"
               " SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'bookings locked'; END IF");
  RunResult r = Run("XXX", "D");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("6 last message days found, 4 follow-ups generated, 0 bookings cancelled,"
                       " 3 failures"),
            std::string::npos)
      << r.err;
  const std::string log = Log();
  EXPECT_NE(log.find("RC:1644 Pnr:10000003"), std::string::npos) << log;
  EXPECT_NE(log.find("RC:1644 Pnr:10000004"), std::string::npos) << log;
  EXPECT_NE(log.find("RC:1062 Pnr:10000004"), std::string::npos) << log;
  EXPECT_EQ(ParamFile(), "10000001," + DottedYesterday() + "\n10000002," + DottedYesterday() +
                             "\n10000003," + DottedYesterday() + "\n10000004," +
                             DottedYesterday() + "\n");
  // The refused cancellation lets the follow-up through, but its insert then
  // meets the booking it could not cancel (same person, day, time and
  // function: 1062) while the slot is still written; the hour-message
  // booking stands without its slot.
  EXPECT_EQ(Committed("SELECT BchPnr, BchFkt, BchFcd FROM " + db_ + ".Qel321Bch"
                      " WHERE BchVon = CURDATE() - INTERVAL 1 DAY AND BchPnr IN"
                      " ('10000003', '10000004') ORDER BY BchPnr, BchFkt"),
            (Rows{{"10000003", "3", "DRF"}, {"10000004", "1", "GL"}}));
  EXPECT_EQ(Committed("SELECT TagPnr, TagHtn, TagTgb FROM " + db_ + ".Qel327Tag WHERE TagTag ="
                      " CURDATE() - INTERVAL 1 DAY AND TagPnr IN ('10000003', '10000004')"
                      " ORDER BY TagPnr"),
            (Rows{{"10000003", "", ""}, {"10000004", "", "KF"}}));
}

}  // namespace
