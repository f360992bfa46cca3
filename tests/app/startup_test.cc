#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "config/pwd.h"
#include "app/startup.h"
#include "support/batch.h"
#include "support/ownserver.h"

namespace {

class Batch : public BatchTest {};

constexpr char kUsageHead[] =
    "Aufruf: pirzol [Param1] [Param2] [Param3]\n"
    "Param1: Pfad der Inidatei\n"
    "Param2: ZELTA/XXX ZELTA=Firmenkonsol.-Version\n"
    "Param3: D/X D=Debug\n";

// Command lines as an operator mistypes them. Nothing but a run may touch
// the folder or the database: a refused one leaves no log and no lock file.
TEST_F(Batch, MistypedCommandLinesAreRefusedBeforeAnythingIsTouched) {
  SeedSickness("P1");
  std::ofstream(work_.File("-pirzol.ini")) << ReadFile(ini_);
  const std::string help = std::string(kUsageHead) + "\npirzol CONFIG MODE SWITCH [OPTION...]\n";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out;  // the start of standard output
    std::string err;  // found in standard error
  } kRows[] = {
      {{}, 2, "", kUsageHead},
      {{ini_, "XXX"}, 2, "", kUsageHead},
      {{ini_, "XXX", "--dry-run"}, 2, "", kUsageHead},  // the switch forgotten
      {{"-pirzol.ini", "XXX", "D", "--dry-run"}, 2, "", "unknown option: -p"},
      {{ini_, "XXX", "-", "--dry-run"}, 2, "", "in its place stands: -;"},
      {{ini_, "XXX", "D", "--dry-rn"}, 2, "", "unknown option: --dry-rn"},
      {{ini_, "XXX", "D", "--report", "--dry-run"}, 2, "", "--report=--dry-run"},
      {{ini_, "XXX", "D", "--dry-run", "--defaults-file=no.cnf"}, 2, "", "no.cnf"},
      {{ini_, "XXX", "D", "--workers=17"}, 2, "", "--workers=17"},
      {{"none.ini", "XXX", "D"}, 2, "", "cannot read the configuration file none.ini"},
      {{ini_, "XXX", "D", "--workers", "4x"}, 2, "", "--workers=4x"},
      {{"--help"}, 0, help, ""},
      {{ini_, "XXX", "--version", "D"}, 0, "pirzol " PIRZOL_VERSION "\n", ""},
  };
  for (const auto& row : kRows) {
    RunResult r = RunProgram(PirzolBin(), row.args, work_.path());
    const std::string shown = ::testing::PrintToString(row.args) + "\n" + r.out + r.err;
    EXPECT_EQ(r.status, row.status) << shown;
    EXPECT_EQ(r.out.rfind(row.out, 0), 0u) << shown;
    EXPECT_NE(r.err.find(row.err), std::string::npos) << shown;
    EXPECT_FALSE(FileExists(work_.File("pirzol.log")) || FileExists(work_.File("pirzol.lock")))
        << shown;
  }
  // After "--" a word beginning with "-" is a parameter: this dry run reads
  // -pirzol.ini, finds P1, and keeps nothing.
  RunResult r = RunProgram(PirzolBin(), {"--dry-run", "--workers=2", "--", "-pirzol.ini", "XXX",
                           "D"}, work_.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("a dry run works in one session"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("TagPnr: P1"), std::string::npos);
  EXPECT_EQ(Committed("SELECT COUNT(*) FROM " + db_ + ".Qel321Bch")[0][0], "1");
}

TEST_F(Batch, NothingToDoLeavesAnEmptyParameterFileAndOnlyTheHeader) {
  RunResult r = Run("XXX", "D");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(FileExists(work_.File("pirzoltgb")));
  EXPECT_EQ(ReadFile(work_.File("pirzoltgb")), "");
  std::string log = Log();
  EXPECT_EQ(log.rfind("\nDatum: ", 0), 0u) << log;
  EXPECT_NE(log.find("  Uhrzeit: "), std::string::npos);
  EXPECT_NE(log.find("Info: Laufzusammenfassung Tag:" + Yesterday() + " Tage:0 Gefunden:0"),
            std::string::npos)
      << log;
  EXPECT_EQ(r.out, "");
  // Both name persons with their sickness days: not for everyone to read.
  for (const char* name : {"pirzol.log", "pirzoltgb"}) {
    struct stat st {};
    ASSERT_EQ(stat(work_.File(name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_mode & 07777, 0640u) << name;
  }
  EXPECT_FALSE(FileExists(work_.File("pirzoltgb.tmp")));
}

TEST_F(Batch, OnlyAnUpperCaseDSwitchesTheLogOn) {
  for (const char* sw : {"X", "d"}) {
    RunResult r = Run("XXX", sw);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(FileExists(work_.File("pirzol.log")));
    EXPECT_EQ(Log(), "") << sw;
  }
  RunResult r = Run("XXX", "Dx");  // only the first character counts
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(Log(), "");
}

TEST_F(Batch, LogAboveOneMebibyteIsBegunAnew) {
  const std::string log = work_.File("pirzol.log");
  {
    std::ofstream out(log, std::ios::binary);
    out << std::string(1048576, 'a');
  }
  ASSERT_EQ(Run("XXX", "D").status, 0);
  std::string kept = Log();
  EXPECT_GT(kept.size(), 1048576u);
  EXPECT_EQ(kept.substr(0, 3), "aaa");
  {
    std::ofstream out(log, std::ios::binary | std::ios::trunc);
    out << std::string(1048577, 'a');
  }
  ASSERT_EQ(Run("XXX", "D").status, 0);
  std::string fresh = Log();
  EXPECT_LT(fresh.size(), 4096u);
  EXPECT_EQ(fresh.rfind("\nDatum: ", 0), 0u);
}

TEST_F(Batch, FollowUpIsListedInBothLineFormatsAndTracedInOrder) {
  SeedSickness("P1");
  RunResult r = Run("XXX", "D");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(work_.File("pirzoltgb")), "P1      ," + DottedYesterday() + "\n");
  const std::string& out = r.out;
  size_t lesen = out.find("\nLesen TagSatz!\naktueller Tagsatz!!!\n\nTagPnr: P1\n");
  size_t hit = out.find("\nTag mit Tagesmeldungen gefunden !\n");
  size_t found = out.find("Tag mit letzter Meldung gefungen! Pnr: P1 Datum: " + Day(-2) + "!\n");
  size_t begin = out.find("\nBeginn Meldungsverarbeitung!\naktueller Tagsatz!!!\n");
  size_t gen = out.find("Beginn Meldung generieren!\n");
  size_t end = out.find("\nEnde Meldungsverarbeitung!\naktueller Tagsatz!!!\n");
  size_t param = out.find("Parametersatz in Datei schreiben: P1      ," + DottedYesterday() +
                          "\n!\n");
  ASSERT_NE(lesen, std::string::npos) << out;
  EXPECT_LT(lesen, hit);
  EXPECT_LT(hit, found);
  EXPECT_LT(found, begin);
  EXPECT_LT(begin, gen);
  EXPECT_LT(gen, end);
  EXPECT_LT(end, param);
  EXPECT_NE(param, std::string::npos) << out;
  EXPECT_NE(out.find("TagTgb: KF\nTagTgs: 480\n"), std::string::npos);

  // Once more, consolidated: the database name leads, upper-cased, in 20.
  Seed("DELETE FROM Qel321Bch WHERE BchFcd = 'KF'");
  Seed("UPDATE Qel327Tag SET TagTgb = '', TagTgs = 0 WHERE TagTag = CURDATE() - INTERVAL 1 DAY");
  r = Run("ZELTA", "X", Again());
  ASSERT_EQ(r.status, 0) << r.err;
  char expect[100];
  std::snprintf(expect, sizeof expect, "%-20s,%-8s,%-10s\n", Upper(db_).c_str(), "P1",
                DottedYesterday().c_str());
  const std::string first = "P1      ," + DottedYesterday() + "\n";
  EXPECT_EQ(ReadFile(work_.File("pirzoltgb")), first + expect);  // a run by hand adds
  // Anything but exactly ZELTA keeps the short form.
  Seed("DELETE FROM Qel321Bch WHERE BchFcd = 'KF'");
  Seed("UPDATE Qel327Tag SET TagTgb = '', TagTgs = 0 WHERE TagTag = CURDATE() - INTERVAL 1 DAY");
  r = Run("ZELTAX", "X", Again());
  EXPECT_EQ(ReadFile(work_.File("pirzoltgb")), first + expect + first);
}

TEST_F(Batch, FailedConnectionIsLoggedWithoutThePassword) {
  WriteIni(ini_, kTestUser, "Geheim-42", "localhost", db_);
  RunResult r = Run("XXX", "D");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("(1045)"), std::string::npos) << r.err;
  EXPECT_NE(Log().find("Fehler(DB-Connect)! RC:1045 Name:pirzol Pwd:******** Net:localhost\n"),
            std::string::npos)
      << Log();
  EXPECT_EQ((r.out + r.err + Log()).find("Geheim-42"), std::string::npos);
  EXPECT_FALSE(FileExists(work_.File("pirzoltgb")));

  r = Run("XXX", "X");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(Log().find("RC:1045", Log().find("RC:1045") + 1), std::string::npos);
}

TEST_F(Batch, OverlongValuesAndPathAreRefusedBeforeConnecting) {
  WriteRawIni(std::string(51, 'u'), kTestPass, "localhost", db_ + ".");
  RunResult r = Run("XXX", "D");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("LOGIN"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("uuuuuuuuuu"), std::string::npos);

  WriteRawIni(kTestUser, kTestPass, "localhost", std::string(21, 'p') + ".");
  r = Run("XXX", "D");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("SCHEMA"), std::string::npos) << r.err;

  std::string longPath = work_.path() + "/" + std::string(100, 'x');
  r = RunProgram(PirzolBin(), {longPath, "XXX", "D"}, work_.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("99"), std::string::npos);
}

TEST_F(Batch, ValuesAtTheirLimitsAndTheDroppedCharacterWork) {
  // A five-character value ending in a full stop names a four-character database.
  admin_->Exec("CREATE DATABASE IF NOT EXISTS pzab");
  WriteRawIni(kTestUser, kTestPass, "localhost", "pzab.");
  RunResult r = Run("XXX", "D");
  admin_->Exec("DROP DATABASE pzab");
  // The database has no tables, so the run starts, fails to read, and says so.
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(Log().find("Fehler(Cur_open): Tagsatz(+TgbSol) lesen! RC:1146\n"), std::string::npos)
      << Log();
}

TEST_F(Batch, EmptySchemaConnectsWithoutDatabaseAndEndsIncomplete) {
  WriteRawIni(kTestUser, kTestPass, "localhost", "");
  RunResult r = Run("XXX", "D");
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(Log().find("Fehler(Cur_open): Tagsatz(+TgbSol) lesen! RC:1046\n"), std::string::npos)
      << Log();
  EXPECT_NE(Log().find("Fehler(Cur_Read): Tagsatz(+TgbSol) lesen! RC:-1\n"), std::string::npos);
}

TEST_F(Batch, SecondRunWhileTheLockIsHeldChangesNothing) {
  SeedSickness("P1");
  AdminSession other;
  ASSERT_EQ(other.Query("SELECT GET_LOCK('pirzol." + Upper(db_) + "', 0)")[0][0], "1");
  RunResult r = Run("XXX", "D");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("lock"), std::string::npos) << r.err;
  EXPECT_EQ(Committed("SELECT COUNT(*) FROM " + db_ + ".Qel321Bch")[0][0], "1");
}

// The first run rotates a log above 1 MiB and then waits for a terminal's
// lock on its person's day. A second start meanwhile must leave the folder
// alone: neither rotating nor writing the first run's log.
TEST_F(Batch, SecondStartInTheSameFolderLeavesTheWorkingRunsLogAlone) {
  SeedSickness("P1");
  {
    std::ofstream big(work_.File("pirzol.log"));
    big << std::string(1100000, 'x') << "\n";
  }
  AdminSession terminal;
  terminal.Exec("BEGIN");
  terminal.Exec("SELECT TagTgb FROM " + db_ + ".Qel327Tag WHERE TagPnr = 'P1' AND"
                " TagTag = CURDATE() - INTERVAL 1 DAY FOR UPDATE");
  Spawned first = SpawnProgram(PirzolBin(), {ini_, "XXX", "D"}, work_.path());
  bool working = false;
  for (int i = 0; i < 2000 && !working; ++i) {
    working = Log().find("Info: Buchung eingepflegt! RC:0 Pnr:P1") != std::string::npos;
    if (!working) usleep(10000);
  }
  ASSERT_TRUE(working) << Log();
  const std::string during = Log();
  ASSERT_EQ(during.rfind("\nDatum: ", 0), 0u);  // the big log was begun anew
  RunResult second = Run("XXX", "D");
  EXPECT_EQ(second.status, 2);
  EXPECT_NE(second.err.find("another run is working in this folder"), std::string::npos)
      << second.err;
  EXPECT_EQ(Log(), during);
  terminal.Exec("ROLLBACK");
  RunResult r = WaitProgram(first);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string log = Log();
  EXPECT_EQ(log.rfind(during, 0), 0u);  // the first run's log, begun anew once, and continued
  EXPECT_EQ(log.find("\nDatum: ", 1), std::string::npos) << log;
  EXPECT_NE(log.find("Info: Laufzusammenfassung"), std::string::npos);
  EXPECT_EQ(ParamFile(), "P1      ," + DottedYesterday() + "\n");
}

// Root in the service's folder would leave files the service cannot write.
TEST_F(Batch, RootInAnotherUsersFolderIsToldToRunAsThatUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  ASSERT_EQ(chown(work_.path().c_str(), 65534, 65534), 0);
  RunResult r = Run("XXX", "D");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(" -- pirzol " + ini_ + " XXX D\n"), std::string::npos) << r.err;
  EXPECT_FALSE(FileExists(work_.File("pirzol.lock")));
}

TEST_F(Batch, ReadableConfigurationFileIsWarnedAbout) {
  chmod(ini_.c_str(), 0644);
  RunResult r = Run("XXX", "X");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("warning: the configuration file"), std::string::npos) << r.err;
}

// A server reached only over TCP with TLS, as a remote one would be: the
// port, the CA and the client certificate come from the option file.
class TlsBatch : public OwnServerBatch {
 protected:
  TlsBatch() : OwnServerBatch(OwnServer::Tls{}) {}
};

TEST_F(TlsBatch, DefaultsFileGivesPortAndTlsToAServerThatRequiresThem) {
  Admin()->Exec("CREATE USER pztls@localhost IDENTIFIED BY 'pz-tls' REQUIRE X509");
  Admin()->Exec("GRANT ALL ON *.* TO pztls@localhost");
  WriteIni(ini_, "pztls", "pz-tls", "127.0.0.1", "pznight");
  SeedSickWithFlexitime(3);
  const std::string cnf = work_.File("client.cnf");
  // Without a CA no file, and the port from the environment; with one the
  // file's port wins over the environment's. The file is laid out as the
  // manual's example.
  auto run = [&](const std::string& ca) {
    std::ofstream(cnf) << "[client]\nport = " << server_.Port() << "\nssl-ca = " << ca
                       << "\n# a comment\nssl-verify-server-cert\n\n[pirzol]\nssl-cert = "
                       << server_.File("client.pem") << "\nssl-key = "
                       << server_.File("client-key.pem") << "\n";
    std::vector<std::string> args = {ini_, "XXX", "D", "--defaults-file=" + cnf};
    if (ca.empty()) args.pop_back();
    const int port = ca.empty() ? server_.Port() : 1;
    return RunProgram(PirzolBin(), args, work_.path(), {"MYSQL_TCP_PORT=" + std::to_string(port)});
  };
  // A plain session is refused by the server; a server whose certificate
  // the CA did not sign is refused by the client.
  EXPECT_EQ(run("").status, 2);
  RunResult r = run(server_.File("client.pem"));
  EXPECT_NE(r.err.find("cannot connect to the database (2026)"), std::string::npos) << r.err;
  EXPECT_TRUE(PersonsWithFollowUp().empty());
  r = run(server_.File("ca.pem"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("not encrypted"), std::string::npos) << r.err;
  EXPECT_EQ(PersonsWithFollowUp(), (std::vector<std::string>{"00000001", "00000002", "00000003"}));
  // The same file against a server that offers no TLS (the run's own,
  // through its socket) is refused, not run in clear; a plain session over
  // TCP runs, warned.
  WriteIni(ini_, kTestUser, kTestPass, "localhost", "mysql");
  r = RunProgram(PirzolBin(), {ini_, "XXX", "D", "--defaults-file=" + cnf}, work_.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("asks for TLS, but the session to localhost is not encrypted"),
            std::string::npos) << r.err;
  Admin()->Exec("SET GLOBAL require_secure_transport = OFF");
  Admin()->Exec("CREATE USER pzplain@localhost IDENTIFIED BY 'pz-plain'");
  Admin()->Exec("GRANT ALL ON *.* TO pzplain@localhost");
  WriteIni(ini_, "pzplain", "pz-plain", "127.0.0.1", "pznight");
  r = run("");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("warning: the session to 127.0.0.1 is not encrypted"), std::string::npos)
      << r.err;
}

TEST(StrUpper, ChangesOnlyAsciiLetters) {
  char text[] = "pz\xe4t_1a.";
  EXPECT_STREQ(Str_Upper(text), "PZ\xe4T_1A.");
}

}  // namespace
