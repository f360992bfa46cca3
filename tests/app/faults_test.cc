// Faults a nightly run must survive: its server going away before or during
// the run, files it cannot write, statements the server refuses.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "support/batch.h"
#include "support/ownserver.h"

namespace {

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

// Waits until text() shows at least n slot updates: the run is under way.
int WaitForUpdates(const std::function<std::string()>& text, int n) {
  const std::string kDone = "Info: TagesSatz aktualisiert!";
  int seen = 0;
  for (int i = 0; i < 6000 && seen < n; ++i) {
    usleep(5000);
    std::string log = text();
    seen = 0;
    for (size_t at = log.find(kDone); at != std::string::npos; at = log.find(kDone, at + 1)) {
      ++seen;
    }
  }
  return seen;
}

// The session is lost in the middle of the night, once with the batch's
// connection killed from another session, once with the whole server
// killed: the run stops with exit 3, each person is wholly done or
// untouched, and the parameter file lists only persons whose work was
// committed. The next plain run completes the night.
TEST_F(OwnServerBatch, SessionLostMidRunLeavesEachPersonWhollyDoneOrUntouched) {
  constexpr int kPersons = 3000;
  for (bool wholeServer : {false, true}) {
    SCOPED_TRACE(wholeServer ? "server killed" : "connection killed");
    if (wholeServer) Recreate();
    SeedSickWithFlexitime(kPersons);
    Spawned run = Start();
    // The log is flushed per entry: wait for a few dozen committed persons.
    const int seen = WaitForUpdates([this] { return Log(); }, 40);
    ASSERT_GE(seen, 40) << "the run did not get going";
    if (wholeServer) {
      server_.Kill();
    } else {
      Rows batch = Admin()->Query("SELECT ID FROM information_schema.PROCESSLIST"
                                  " WHERE DB = 'pznight' AND ID <> CONNECTION_ID()");
      ASSERT_EQ(batch.size(), 1u);
      Admin()->Exec("KILL CONNECTION " + batch[0][0]);
    }
    RunResult r = WaitProgram(run, 300);
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("the transaction was lost"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("exit status 3"), std::string::npos) << r.err;
    EXPECT_NE(Log().find("Fehler(Einheit): Transaktion verloren! RC:"), std::string::npos);
    if (wholeServer) {
      server_.Resume();
      admin_ = std::make_unique<AdminSession>(server_.Socket().c_str());
    }
    // Per person: follow-ups booked / function of the flexitime day / slot 1.
    Rows states = SickStates();
    ASSERT_EQ(states.size(), 2u) << "a person is half done";
    EXPECT_EQ(states[0][0], "0/1/");     // untouched
    EXPECT_EQ(states[1][0], "1/45/KF");  // wholly done
    const int done = std::atoi(states[1][1].c_str());
    EXPECT_GE(done, seen - 1);  // the last one logged may not have reached its commit
    EXPECT_LT(done, kPersons);
    EXPECT_EQ(done + std::atoi(states[0][1].c_str()), kPersons);
    // Every listed person is committed. One committed person may be missing
    // from the list: the one whose COMMIT the server kept but could not answer.
    const std::vector<std::string> listed = ListedPersons(), committed = PersonsWithFollowUp();
    EXPECT_TRUE(std::includes(committed.begin(), committed.end(), listed.begin(), listed.end()));
    EXPECT_LE(committed.size() - listed.size(), 1u);

    // The next plain run completes the night: every person handled once, and
    // the parameter file lists every changed day of the night, those the
    // broken run committed included.
    RunResult next = WaitProgram(Start("X"), 300);
    EXPECT_EQ(next.status, 0) << next.err;
    // The last committed day's closing row waits for the next COMMIT: that
    // day, open in the record, is completed without booking it again.
    EXPECT_TRUE(next.err.find(std::to_string(done) + " skipped as handled") != std::string::npos ||
                next.err.find(std::to_string(done - 1) + " skipped as handled") !=
                    std::string::npos)
        << next.err;
    EXPECT_EQ(SickStates(), (Rows{{"1/45/KF", std::to_string(kPersons)}}));
    std::vector<std::string> all = PersonsWithFollowUp();
    EXPECT_EQ(all.size(), static_cast<std::size_t>(kPersons));
    EXPECT_EQ(ListedPersons(), all);
    std::remove(work_.File("pirzol.log").c_str());
  }
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
  // The night is not recorded complete: once the file can be written, the
  // next plain run lists the day.
  ASSERT_EQ(rmdir(work_.File("pirzoltgb").c_str()), 0);
  // A report that cannot be put in place (a folder holds its name) ends the
  // run with 3, and the run's row, written last, says so.
  ASSERT_EQ(mkdir(work_.File("r.jsonl").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(work_.File("r.jsonl/x").c_str(), 0755), 0);
  RunResult next = Run("XXX", "D", {"--report=" + work_.File("r.jsonl")});
  EXPECT_EQ(next.status, 3) << next.err;
  EXPECT_NE(next.err.find("1 skipped as handled"), std::string::npos) << next.err;
  EXPECT_EQ(ParamFile(), "P1      ," + DottedYesterday() + "\n");
  EXPECT_EQ(Committed("SELECT LauSta, LauExt FROM " + db_ + ".Qel950Lau ORDER BY LauId"),
            (Rows{{"incomplete", "3"}, {"incomplete", "3"}}));
}

// Links planted where the run gathers its parameter lines and its report:
// the files they point at stay as they were, and both land in place.
TEST_F(Faults, PlantedLinksAreNotFollowed) {
  SeedSickness("P1");
  const std::string target = work_.File("elsewhere");
  std::ofstream(target) << "keep\n";
  for (const char* name : {"pirzoltgb.tmp", "report.jsonl.tmp"}) {
    ASSERT_EQ(symlink(target.c_str(), work_.File(name).c_str()), 0);
  }
  RunResult r = Run("XXX", "D", {"--report=" + work_.File("report.jsonl")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(target), "keep\n");
  EXPECT_EQ(ParamFile(), "P1      ," + DottedYesterday() + "\n");
  EXPECT_NE(ReadFile(work_.File("report.jsonl")).find("\"person\":\"P1\""), std::string::npos);
}

// The parameter file outgrows what the process may write (a full disk, here
// a file size limit that also cuts the console trace): the next step must
// find an empty file, never a part, while the bookings stay committed.
TEST_F(Faults, ParameterFileThatCannotBeWrittenWholeIsLeftEmpty) {
  constexpr int kPersons = 60;  // 42 bytes a line in the consolidated layout: past the limit
  for (int i = 0; i < kPersons; ++i) SeedSickness("P" + std::to_string(100 + i));
  RunResult r = RunProgram("prlimit", {"--fsize=2048", PirzolBin(), ini_, "ZELTA", "X"},
                           work_.path());
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("writing the parameter file pirzoltgb failed"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("writing the console trace failed"), std::string::npos) << r.err;
  EXPECT_TRUE(FileExists(work_.File("pirzoltgb")));
  EXPECT_EQ(ParamFile(), "");
  EXPECT_FALSE(FileExists(work_.File("pirzoltgb.tmp")));
  EXPECT_EQ(Committed("SELECT COUNT(*) FROM " + db_ + ".Qel321Bch WHERE BchFcd = 'KF'")[0][0],
            std::to_string(kPersons));
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
  // Both days are failed: the run says so with its status, and names them.
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("6 last message days found, 4 follow-ups generated, 0 bookings cancelled,"
                       " 3 failures"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("2 days failed in this run; 2 persons are held back"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("10000003 since "), std::string::npos) << r.err;
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
