// The whole night's batch through its binary on the demo's persons, plus one
// hour-message person handled last.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "support/batch.h"
#include "support/ownserver.h"

namespace {

class EndToEnd : public BatchTest {
 protected:
  void SetUp() override {
    BatchTest::SetUp();
    SeedDemo();
    // Sorted last: its follow-up is made durable by the run's final commit only.
    Seed("INSERT INTO Qel327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd, TagTgb, TagTgs,"
         " TagHtv, TagHvs, TagHtn, TagHns) VALUES"
         " ('10000099', CURDATE() - INTERVAL 1 DAY, CURDATE() - INTERVAL 1 DAY,"
         "  TIMESTAMP(CURDATE() - INTERVAL 1 DAY, '12:00:00'), CURDATE() - INTERVAL 1 DAY,"
         "  TIMESTAMP(CURDATE() - INTERVAL 1 DAY, '12:00:00'), '', 0, '', 0, '', 0),"
         " ('10000099', CURDATE() - INTERVAL 2 DAY, CURDATE() - INTERVAL 2 DAY,"
         "  TIMESTAMP(CURDATE() - INTERVAL 2 DAY, '07:00:00'), CURDATE() - INTERVAL 2 DAY,"
         "  TIMESTAMP(CURDATE() - INTERVAL 2 DAY, '15:30:00'), '', 0, '', 0, '', 0)");
    Seed("INSERT INTO Qel320Tgb (TgbPnr, TgbDtm, TgbZtr, TgbSol) SELECT TagPnr, TagTag, 1, 480"
         " FROM Qel327Tag WHERE TagPnr = '10000099'");
    Seed("INSERT INTO Qel329Ztg (ZtgPnr, ZtgVon, ZtgAzt, ZtgSta)"
         " VALUES ('10000099', CURDATE() - INTERVAL 1 DAY, 'VZ40', 0)");
    Seed("INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES ('10000099',"
         " CURDATE() - INTERVAL 2 DAY, TIMESTAMP(CURDATE() - INTERVAL 2 DAY, '09:15:00'), 24,"
         " 'DR')");
  }
  // The accounted day as another connection sees it, one row per person.
  Rows Slots() {
    return Committed("SELECT TagPnr, TagTgb, TagTgs, TagHtv, TagHvs, TagHtn, TagHns FROM " + db_ +
                     ".Qel327Tag WHERE TagTag = CURDATE() - INTERVAL 1 DAY ORDER BY TagPnr");
  }
  Rows Bookings() {
    return Committed("SELECT BchPnr, DATE_FORMAT(BchUhr, '%H:%i:%s'), BchFkt, BchFcd FROM " + db_ +
                     ".Qel321Bch WHERE BchVon = CURDATE() - INTERVAL 1 DAY"
                     " ORDER BY BchPnr, BchUhr, BchFkt");
  }
};

// Everything outside the accounted day's slots and bookings: the run must
// leave it as it was.
std::string Untouched(AdminSession* admin, const std::string& db) {
  std::string sums;
  for (const char* table : {"Qel131Fcd", "Qel140Azv", "Qel320Tgb", "Qel329Ztg"}) {
    sums += admin->Query("CHECKSUM TABLE " + db + "." + table)[0][1] + ",";
  }
  sums += admin->Query("SELECT COUNT(*), SUM(CRC32(CONCAT_WS('|', TagPnr, TagTag, TagTgb, TagTgs,"
                       " TagHtv, TagHvs, TagHtn, TagHns))) FROM " + db +
                       ".Qel327Tag WHERE TagTag < CURDATE() - INTERVAL 1 DAY")[0][1] + ",";
  sums += admin->Query("SELECT SUM(CRC32(CONCAT_WS('|', BchPnr, BchVon, BchUhr, BchFkt, BchFcd,"
                       " BchDat))) FROM " + db +
                       ".Qel321Bch WHERE BchVon < CURDATE() - INTERVAL 1 DAY")[0][0];
  return sums;
}

const Rows kSlots = {
    {"10000001", "KF", "480", "", "0", "", "0"},   // sickness carried, value of the rule
    {"10000002", "", "0", "UHF", "240", "", "0"},  // half-day leave, halved
    {"10000003", "", "0", "", "0", "DRF", "120"},  // hour message, fixed value
    {"10000004", "KF", "480", "", "0", "", "0"},   // flexitime day cancelled for it
    {"10000005", "", "0", "", "0", "", "0"},       // special leave stopped it
    {"10000006", "", "0", "", "0", "", "0"},       // no target time
    {"10000007", "", "0", "", "0", "", "0"},       // search gave up
    {"10000099", "", "0", "", "0", "DRF", "120"},  // hour message, handled last
};

TEST_F(EndToEnd, OneNightChangesExactlyTheFollowUpsAndCommitsThemAll) {
  const std::string before = Untouched(admin_, db_);
  // A log past 1 MiB is kept as pirzol.log.1, in place of an older one; the
  // new log is 0640 also under a umask that would take the group's bit.
  const std::string full = std::string(1048576, 'a') + "\n";
  std::ofstream(work_.File("pirzol.log"), std::ios::binary) << full;
  std::ofstream(work_.File("pirzol.log.1")) << "older\n";
  const mode_t umaskBefore = umask(077);
  RunResult r = Run("ZELTA", "D");
  umask(umaskBefore);
  ASSERT_EQ(r.status, 0) << r.err;
  // The run's row, five handled day messages, two day-end commits of hour
  // messages and the night's end; the final COMMIT has nothing left to keep.
  const std::string y = Yesterday();
  EXPECT_NE(r.err.find("day " + y.substr(0, 4) + "-" + y.substr(4, 2) + "-" + y.substr(6, 2) +
                       ": 8 placeholder days read, 0 skipped as handled, 7 last message days"
                       " found, 5 follow-ups generated, 1 bookings cancelled, 0 failures, 9"
                       " commits, 0 retries, 0 units given up; exit status 0"),
            std::string::npos)
      << r.err;

  std::string params;
  for (const char* pnr : {"10000001", "10000002", "10000003", "10000004", "10000099"}) {
    char line[64];
    std::snprintf(line, sizeof line, "%-20s,%-8s,%-10s\n", Upper(db_).c_str(), pnr,
                  DottedYesterday().c_str());
    params += line;
  }
  EXPECT_EQ(ParamFile(), params);

  // Seen from a connection opened after the run: everything is committed,
  // the last person's hour-message follow-up too.
  EXPECT_EQ(Slots(), kSlots);
  const Rows kBookings = {
      {"10000001", "00:00:00", "1", "KF"},  {"10000002", "00:00:00", "2", "UHF"},
      {"10000003", "00:00:00", "3", "DRF"}, {"10000004", "00:00:00", "1", "KF"},
      {"10000004", "00:00:00", "45", "GL"}, {"10000005", "00:00:00", "1", "SU"},
      {"10000099", "00:00:00", "3", "DRF"},
  };
  EXPECT_EQ(Bookings(), kBookings);
  EXPECT_EQ(Committed("SELECT COUNT(*) FROM " + db_ + ".Qel321Bch WHERE BchFkt = 45 AND"
                      " BchDat IS NOT NULL AND BchErf = 'Korvane'")[0][0],
            "1");
  EXPECT_EQ(Untouched(admin_, db_), before);

  const std::string log = Log();
  for (const char* pnr : {"10000001", "10000002", "10000003", "10000004", "10000099"}) {
    EXPECT_NE(log.find(std::string("Info: Buchung eingepflegt! RC:0 Pnr:") + pnr),
              std::string::npos)
        << pnr;
  }
  EXPECT_NE(log.find("Pnr:10000006"), std::string::npos) << log;  // the target-time notice
  EXPECT_EQ(log.find("Fehler("), std::string::npos) << log;
  EXPECT_NE(log.find("Info: Laufzusammenfassung Tag:" + y +
                     " Tage:8 Gefunden:7 Generiert:5 Storniert:1 Fehler:0 Commits:9"
                     " Wiederholungen:0 Aufgegeben:0 Status:0"),
            std::string::npos);
  EXPECT_EQ(log.rfind("\nDatum: ", 0), 0u);
  EXPECT_EQ(ReadFile(work_.File("pirzol.log.1")), full);
  struct stat st {};
  ASSERT_EQ(stat(work_.File("pirzol.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  // A link planted in the log's place is not written through.
  std::ofstream(work_.File("target")) << "mine\n";
  ASSERT_EQ(std::remove(work_.File("pirzol.log").c_str()), 0);
  ASSERT_EQ(symlink("target", work_.File("pirzol.log").c_str()), 0);
  EXPECT_EQ(Run("ZELTA", "D").status, 2);
  EXPECT_EQ(ReadFile(work_.File("target")), "mine\n");
}

// Run as a service, stderr is the journal's stream: each line carries the
// level its writer gave it, for "journalctl -p". The variable names stderr's
// own file, as the service manager sets it; without it no line has a prefix.
TEST_F(EndToEnd, StderrLinesCarryTheLevelTheirWriterGave) {
  auto levels = [&](const std::vector<std::string>& options, bool journal, int status) {
    std::vector<std::string> args = {"-c", "exec \"$@\"", "sh", PirzolBin(), ini_, "XXX", "D"};
    if (journal) args[1] = "JOURNAL_STREAM=$(stat -L -c %d:%i /proc/self/fd/2) " + args[1];
    args.insert(args.end(), options.begin(), options.end());
    RunResult r = RunProgram("/bin/sh", args, work_.path());
    EXPECT_EQ(r.status, status) << r.err;
    std::string heads;  // each line's first three characters
    for (std::size_t at = 0; at < r.err.size(); at = r.err.find('\n', at) + 1) {
      heads += r.err.substr(at, 3);
    }
    return heads;
  };
  // A dry run with two workers: a notice and its summary. The night: its
  // summary. Nothing due: a notice and the summary.
  EXPECT_EQ(levels({"--dry-run", "--workers=2"}, true, 0), "<5><6>");
  EXPECT_EQ(levels({}, true, 0), "<6>");
  EXPECT_EQ(levels({}, true, 0), "<5><6>");
  // A warning (a readable configuration file), a failure (the report cannot
  // be created) and the summary of a run that ends 2.
  ASSERT_EQ(chmod(ini_.c_str(), 0644), 0);
  const std::vector<std::string> report = {"--report=" + work_.File("missing/r.jsonl")};
  EXPECT_EQ(levels(report, true, 2), "<4><3><3>");
  EXPECT_EQ(levels(report, false, 2), "pirpirpir");
}

// The same night handled again: on purpose (--again), or on a database
// without the run record, where every run handles yesterday as it always
// did. Nothing is booked twice. Each follow-up finds its own earlier copy on
// the day, of equal priority with the tie rule that cancels, so the copy
// goes to function 45 and a fresh one is booked. A cancelled booking
// already at that time (10000004's flexitime day, then from the third run
// on every older copy) is deleted first (the 1062 path). The slots already
// hold their values, so each day update reports that nothing changed, which
// is logged as a failure.
TEST_F(EndToEnd, RunningTheSameNightAgainBooksNothingTwice) {
  const Rows kAgain = {
      {"10000001", "00:00:00", "1", "KF"},   {"10000001", "00:00:00", "45", "KF"},
      {"10000002", "00:00:00", "2", "UHF"},  {"10000002", "00:00:00", "45", "UHF"},
      {"10000003", "00:00:00", "3", "DRF"},  {"10000003", "00:00:00", "45", "DRF"},
      {"10000004", "00:00:00", "1", "KF"},   {"10000004", "00:00:00", "45", "KF"},
      {"10000005", "00:00:00", "1", "SU"},   {"10000099", "00:00:00", "3", "DRF"},
      {"10000099", "00:00:00", "45", "DRF"},
  };
  for (bool record : {true, false}) {
    SCOPED_TRACE(record ? "--again" : "without the run record");
    if (!record) {
      TearDown();
      SetUp();
      Seed("DROP TABLE Qel950Lau, Qel951Lat");
    }
    const std::vector<std::string> options =
        record ? Again() : std::vector<std::string>{};
    ASSERT_EQ(Run("XXX", "X").status, 0);
    for (int run = 2; run <= 3; ++run) {
      RunResult r = Run("XXX", "D", options);
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(Bookings(), kAgain) << "run " << run;
      EXPECT_EQ(Slots(), kSlots) << "run " << run;
      // The day records already hold what is written: logged as always,
      // but the days' work is there, so they are done and not failed.
      EXPECT_NE(r.err.find("5 follow-ups generated, 5 bookings cancelled, 0 failures"),
                std::string::npos)
          << r.err;
      EXPECT_NE(Log().find("Fehler(Tag_Update): TagesSatz aktualisieren! RC:-1 Pnr:10000001"),
                std::string::npos);
      if (record) {
        EXPECT_EQ(Committed("SELECT COUNT(*) FROM " + db_ + ".Qel951Lat WHERE LatErg NOT IN "
                            "('changed', 'nothing')")[0][0], "0");
      }
      // --again adds its lines to those of the runs before; a plain run
      // begins the file anew.
      std::string lines;
      for (int i = record ? run : 1; i > 0; --i) {
        for (const char* pnr : {"10000001", "10000002", "10000003", "10000004", "10000099"}) {
          lines += std::string(pnr) + "," + DottedYesterday() + "\n";
        }
      }
      EXPECT_EQ(ParamFile(), lines);
      const std::size_t warned = r.err.find("no run record");
      EXPECT_EQ(warned != std::string::npos, !record) << r.err;
      EXPECT_EQ(r.err.find("no run record", warned + 1), std::string::npos) << r.err;
    }
  }
}

// A dry run does everything and keeps nothing: every table as it was, the
// record included, and no parameter file. Its report is the real run's,
// which follows, but for the run's number and the dry-run flag.
TEST_F(EndToEnd, DryRunKeepsNothingAndReportsWhatTheRealRunDoes) {
  SeedTwoFollowUps(*admin_, "10000008");
  const std::string before = TableState(*admin_, db_, true);
  RunResult dry = Run("XXX", "D", {"--dry-run", "--report=" + work_.File("dry.jsonl")});
  ASSERT_EQ(dry.status, 0) << dry.err;
  EXPECT_NE(dry.err.find("dry run, day "), std::string::npos) << dry.err;
  EXPECT_EQ(TableState(*admin_, db_, true), before);
  EXPECT_FALSE(FileExists(work_.File("pirzoltgb")));
  EXPECT_NE(dry.out.find("Parametersatz in Datei schreiben: 10000099"), std::string::npos);

  RunResult real = Run("XXX", "D", {"--report=" + work_.File("real.jsonl")});
  ASSERT_EQ(real.status, 0) << real.err;
  Rows slots = kSlots;
  slots.insert(slots.begin() + 7, {"10000008", "KF", "480", "UHF", "240", "", "0"});
  EXPECT_EQ(Slots(), slots);
  const std::string dryReport = ReadFile(work_.File("dry.jsonl"));
  std::string realReport = ReadFile(work_.File("real.jsonl"));
  EXPECT_NE(realReport.find("\"cancelled\":{\"code\":\"UHF\""), std::string::npos) << realReport;
  EXPECT_NE(dry.err.find(" 0 commits,"), std::string::npos) << dry.err;
  std::string expected = realReport;
  const std::size_t run = expected.find("\"run\":");
  ASSERT_NE(run, std::string::npos) << realReport;
  expected.replace(run, expected.find(',', run) - run, "\"run\":null");
  const std::string realFlag = "\"dry_run\":false";
  expected.replace(expected.find(realFlag), realFlag.size(), "\"dry_run\":true");
  EXPECT_EQ(dryReport, expected);

  // One object per day handled and one for the run, with what each
  // follow-up met.
  EXPECT_EQ(std::count(realReport.begin(), realReport.end(), '\n'), 10);
  for (const char* part :
       {"{\"person\":\"10000004\",\"date\":\"", "\"cancelled\":{\"code\":\"GL\",\"function\":1",
        "\"stopped\":\"stronger booking\",\"stopped_by\":\"SU\"",
        "\"stopped\":\"target time\"", "{\"code\":\"DRF\",\"slot\":3,\"function\":3,\"value\":120",
        "\"counts\":{\"days_read\":9,\"days_found\":8,\"generated\":7,\"cancelled\":2"}) {
    EXPECT_NE(realReport.find(part), std::string::npos) << part << "\n" << realReport;
  }
  struct stat st {};
  ASSERT_EQ(stat(work_.File("real.jsonl").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

}  // namespace
