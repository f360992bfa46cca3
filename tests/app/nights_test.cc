// Nights missed, nights run twice, and options that choose the nights: the
// run record in the database decides what a run handles.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/batch.h"

namespace {

class Nights : public BatchTest {
 protected:
  // A date relative to the server's today as a SQL expression and as YYYY-MM-DD.
  static std::string Ago(int days) {
    return "CURDATE() - INTERVAL " + std::to_string(days) + " DAY";
  }
  std::string Dashed(int days) {
    std::string d = Day(-days);
    return d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2);
  }
  std::string Dotted(int days) {
    std::string d = Day(-days);
    return d.substr(6, 2) + "." + d.substr(4, 2) + "." + d.substr(0, 4);
  }

  // The database made anew: three persons whose message day lies before
  // `nights` placeholder days that end yesterday. S1 is sick (K, followed by
  // KF, which cancels its equal on a tie), l1 on leave (U, followed by UF,
  // which gives way on a tie), H1 has an hour message (DR, followed by DRF).
  // l1's lower case puts it between the others in the server's order and
  // after them in a byte-wise one.
  void Reseed(int nights) {
    admin_->Exec("DROP DATABASE " + db_);
    admin_->Exec("CREATE DATABASE " + db_);
    admin_->Exec("USE " + db_);
    admin_->ExecFile(std::getenv("PIRZOL_SCHEMA"));
    Seed("INSERT INTO Qel131Fcd (FcdNum, FcdTyp, FcdZwt, FcdStd, FcdSol, FcdPri, FcdGpu, FcdFcd,"
         " FcdFlg) VALUES ('K', 1, 1, 0, 0, 5, 0, NULL, 'KF'), ('KF', 1, 1, 0, 0, 5, 1, NULL,"
         " 'KF'), ('U', 1, 1, 0, 0, 4, 0, NULL, 'UF'), ('UF', 1, 1, 0, 0, 4, 0, NULL, 'UF'),"
         " ('DR', 3, 14, 120, 0, 6, 0, NULL, 'DRF'), ('DRF', 3, 14, 120, 0, 6, 0, NULL, NULL)");
    Seed("INSERT INTO Qel140Azv (AzvNum, AzvGvo, AzvGbi, AzvSol, AzvSo2, AzvVhs, AzvHso, AzvHs2,"
         " AzvHtv, AzvSta) VALUES ('R8', '2000-01-01', NULL, 480, 0, 0, 0, 0, 0, 0)");
    const std::string m = Ago(nights + 1);
    for (const char* pnr : {"S1", "l1", "H1"}) {
      const std::string p = std::string("'") + pnr + "'";
      // The message day carries its day message in slot 1, as the search expects.
      const std::string slot = pnr[0] == 'S' ? "'K', 480" : pnr[0] == 'l' ? "'U', 480" : "'', 0";
      Seed("INSERT INTO Qel327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd, TagTgb,"
           " TagTgs, TagHtv, TagHvs, TagHtn, TagHns) VALUES (" + p + ", " + m + ", " + m +
           ", TIMESTAMP(" + m + ", '07:00:00'), " + m + ", TIMESTAMP(" + m + ", '15:00:00'), " +
           slot + ", '', 0, '', 0)");
      Seed("INSERT INTO Qel327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd, TagTgb,"
           " TagTgs, TagHtv, TagHvs, TagHtn, TagHns) SELECT " + p + ", d, d, TIMESTAMP(d,"
           " '12:00:00'), d, TIMESTAMP(d, '12:00:00'), '', 0, '', 0, '', 0 FROM (SELECT"
           " CURDATE() - INTERVAL seq DAY AS d FROM seq_1_to_" + std::to_string(nights) + ") n");
      Seed("INSERT INTO Qel320Tgb (TgbPnr, TgbDtm, TgbZtr, TgbSol) SELECT TagPnr, TagTag, 1,"
           " 480 FROM Qel327Tag WHERE TagPnr = " + p);
      Seed("INSERT INTO Qel329Ztg (ZtgPnr, ZtgVon, ZtgAzt, ZtgSta) SELECT TagPnr, TagTag, 'R8',"
           " 0 FROM Qel327Tag WHERE TagPnr = " + p + " AND TagTag > " + m);
    }
    Seed("INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES"
         " ('S1', " + m + ", TIMESTAMP(" + m + ", '00:00:00'), 1, 'K'),"
         " ('l1', " + m + ", TIMESTAMP(" + m + ", '00:00:00'), 1, 'U'),"
         " ('H1', " + m + ", TIMESTAMP(" + m + ", '09:00:00'), 24, 'DR')");
  }
  // The record as if the night `days` ago had run to its end.
  void CompleteNight(int days) {
    Seed("INSERT INTO Qel950Lau (LauVon, LauBis, LauFer, LauBeg, LauSta, LauExt) VALUES (" +
         Ago(days) + ", " + Ago(days) + ", " + Ago(days) + ", NOW(), 'complete', 0)");
  }
  std::string State(bool withRecord = false) { return TableState(*admin_, db_, withRecord); }
};

// Two nights missed: the catch-up run leaves every table as three nightly
// runs would have, lists all three nights, and a second run finds nothing
// due and changes nothing, the parameter file included.
TEST_F(Nights, MissedNightsAreCaughtUpAsTheNightlyRunsWouldHaveDoneThem) {
  Reseed(3);
  CompleteNight(4);
  RunResult r = Run("XXX", "D", {"--report=" + work_.File("one.json")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("days " + Dashed(3) + " to " + Dashed(1) + ": 9 placeholder days read"),
            std::string::npos)
      << r.err;
  std::string lines;
  for (int night = 3; night >= 1; --night) {
    for (const char* pnr : {"H1", "l1", "S1"}) lines += std::string(pnr) + "      ," +
                                                        Dotted(night) + "\n";
  }
  EXPECT_EQ(ParamFile(), lines);
  const std::string caughtUp = State();
  const std::string record = State(true);
  const std::string firstLog = Log();

  RunResult again = Run("XXX", "D");
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.err.find("no night is due"), std::string::npos) << again.err;
  EXPECT_EQ(State(true), record);
  EXPECT_EQ(ParamFile(), lines);
  EXPECT_EQ(Log().find("Fehler("), std::string::npos) << Log();

  Reseed(3);
  CompleteNight(4);
  // Runs by hand add their lines to the file, as the next step may not have
  // read it yet.
  std::remove(work_.File("pirzoltgb").c_str());
  for (int night = 3; night >= 1; --night) {
    RunResult one = Run("XXX", "D", {"--day=" + Dashed(night)});
    ASSERT_EQ(one.status, 0) << one.err;
  }
  EXPECT_EQ(State(), caughtUp);
  EXPECT_EQ(ParamFile(), lines);
  // The night once more: every person matched in the record, nothing changes.
  RunResult twice = Run("XXX", "D", {"--day=" + Dashed(1)});
  EXPECT_NE(twice.err.find("0 placeholder days read, 3 skipped"), std::string::npos) << twice.err;
  EXPECT_EQ(State(), caughtUp);

  // The same catch-up with a worker per person: each night waits for the
  // one before it, and the run writes what one session writes. Only the
  // summary differs: each worker commits its slice's waiting rows itself.
  auto entries = [](const std::string& log) {
    std::string kept;
    for (std::size_t at = 0; at < log.size(); at = log.find('\n', at) + 1) {
      std::string line = log.substr(at, log.find('\n', at) - at);
      if (line.rfind("Datum:", 0) != 0 && line.rfind("Info: Laufzus", 0) != 0) kept += line + "\n";
    }
    return kept;
  };
  Reseed(3);
  CompleteNight(4);
  std::remove(work_.File("pirzol.log").c_str());
  RunResult shared = Run("XXX", "D", {"--workers=3", "--report=" + work_.File("three.json")});
  EXPECT_EQ(shared.status, 0) << shared.err;
  EXPECT_EQ(State(), caughtUp);
  EXPECT_EQ(ParamFile(), lines);
  EXPECT_EQ(ReadFile(work_.File("three.json")), ReadFile(work_.File("one.json")));
  EXPECT_EQ(shared.out, r.out);
  EXPECT_EQ(entries(Log()), entries(firstLog));

  // Nights missed, then yesterday alone by hand: the next plain run still
  // handles the nights before it, and lists yesterday's days again.
  Reseed(3);
  CompleteNight(4);
  ASSERT_EQ(Run("XXX", "D", {"--day=" + Dashed(1)}).status, 0);
  RunResult plain = Run("XXX", "D");
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_NE(plain.err.find("6 placeholder days read, 3 skipped"), std::string::npos) << plain.err;
  EXPECT_EQ(State(), caughtUp);
  EXPECT_EQ(ParamFile(), lines);
}

// The message types cannot be read (their table renamed): every day of the
// catch-up fails or waits for its person's failed one, the run ends 3 and
// says so in its metrics, and the record's row says how it ended. Once the
// table is back, the next plain run handles each person's days in date
// order: the tables of nightly runs, every line listed.
TEST_F(Nights, FailedDaysHoldTheirPersonsBackUntilAPlainRunDoesThem) {
  Reseed(3);
  CompleteNight(4);
  ASSERT_EQ(Run("XXX", "D").status, 0);
  const std::string quiet = State();
  const std::vector<std::string> lines = SortedLines(ParamFile());

  Reseed(3);
  CompleteNight(4);
  Seed("RENAME TABLE Qel131Fcd TO Qel131Fcd_away");
  const std::string metrics = "--metrics=" + work_.File("pirzol.prom");
  RunResult failed = Run("XXX", "D", {metrics, "--report=" + work_.File("failed.jsonl")});
  EXPECT_EQ(failed.status, 3) << failed.err;
  const std::string report = ReadFile(work_.File("failed.jsonl"));
  std::size_t marked = 0;
  for (std::size_t at = 0; (at = report.find("\"failed\":true", at)) != std::string::npos; ++at) {
    ++marked;
  }
  EXPECT_EQ(marked, 3u) << report;
  EXPECT_NE(failed.err.find("3 days failed in this run; 3 persons are held back"),
            std::string::npos) << failed.err;
  const std::string prom = ReadFile(work_.File("pirzol.prom"));
  EXPECT_NE(prom.find("\npirzol_days_failed 3\n"), std::string::npos) << prom;
  EXPECT_NE(prom.find("\npirzol_persons_held_back 3\n"), std::string::npos) << prom;
  EXPECT_EQ(Committed("SELECT LauSta, LauExt FROM " + db_ + ".Qel950Lau WHERE LauBeg IS NOT"
                      " NULL AND LauHst <> ''"), (Rows{{"incomplete", "3"}}));
  EXPECT_EQ(Committed("SELECT LatErg, COUNT(*) FROM " + db_ + ".Qel951Lat GROUP BY LatErg"),
            (Rows{{"failed", "3"}, {"held", "6"}}));

  Seed("RENAME TABLE Qel131Fcd_away TO Qel131Fcd");
  RunResult mended = Run("XXX", "D", {metrics});
  EXPECT_EQ(mended.status, 0) << mended.err;
  EXPECT_EQ(State(), quiet);
  EXPECT_EQ(SortedLines(ParamFile()), lines);
  EXPECT_NE(ReadFile(work_.File("pirzol.prom")).find("\npirzol_persons_held_back 0\n"),
            std::string::npos);
  RunResult after = Run("XXX", "D");
  EXPECT_NE(after.err.find("no night is due"), std::string::npos) << after.err;
  EXPECT_EQ(State(), quiet);
}

// Too many nights due, bad options and nights that have not ended: refused
// with exit 2, every table as it was, no parameter file.
TEST_F(Nights, RefusedRunsChangeNothing) {
  Reseed(1);
  CompleteNight(33);
  const std::string before = State(true);
  const std::vector<std::vector<std::string>> cases = {
      {},  // 32 nights due
      {"--dry-rn"},
      {"--day=2026-02-30"},
      {"--day=" + Dashed(0)},  // today has not ended
      {"--from=" + Dashed(-1)},
      {"--day=" + Dashed(1), "--from=" + Dashed(1)},
      {"--report="},
  };
  for (const auto& options : cases) {
    RunResult r = Run("XXX", "D", options);
    const std::string what = options.empty() ? "plain" : options[0];
    EXPECT_EQ(r.status, 2) << what << "\n" << r.err;
    EXPECT_NE(r.err.find("nothing was"), std::string::npos) << what << "\n" << r.err;
    EXPECT_FALSE(FileExists(work_.File("pirzoltgb"))) << what;
    EXPECT_EQ(State(true), before) << what;
  }
  EXPECT_NE(Run("XXX", "D").err.find("32 nights are due"), std::string::npos);
  // Words that are not options stay ignored, as they always were.
  const std::string metrics = "--metrics=" + work_.File("pirzol.prom");
  RunResult r = Run("XXX", "D", {"--day=" + Dashed(1), "extra", metrics});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ParamFile(), "H1      ," + Dotted(1) + "\nl1      ," + Dotted(1) + "\nS1      ," +
                             Dotted(1) + "\n");
  // Monitoring sees the refused night as a failed run, and the last success
  // stays the one before it, so an alert on its age fires.
  auto success = [this] {
    const std::string text = ReadFile(work_.File("pirzol.prom"));
    const std::string name = "\npirzol_last_success_timestamp_seconds ";
    const std::size_t at = text.find(name);
    return at == std::string::npos ? std::string("none")
                                   : text.substr(at + name.size(), text.find('\n', at + 1) -
                                                                      at - name.size());
  };
  const std::string last = success();
  EXPECT_NE(last, "none");
  EXPECT_NE(last, "0");
  EXPECT_EQ(Run("XXX", "D", {"--day=" + Dashed(0), metrics}).status, 2);
  EXPECT_NE(ReadFile(work_.File("pirzol.prom")).find("\npirzol_last_run_exit_status 2\n"),
            std::string::npos);
  EXPECT_EQ(success(), last);
}

}  // namespace

namespace {

// A message corrected after the nights that carried it: a plain run names
// the stale follow-ups and changes nothing, --correct --dry-run says what
// --correct does, and --correct leaves the tables as nights that had the
// correction from the start (applied before the night `before`, 3 for the
// first). S1's K four days ago was carried as KF to the three days after.
class Corrections : public Nights {};

TEST_F(Corrections, TakeBackAndDeriveAgainAsIfTheCorrectionHadAlwaysBeenThere) {
  const std::string k = "BchPnr = 'S1' AND BchVon = " + Ago(4);
  const std::string kf2 = "BchPnr = 'S1' AND BchVon = " + Ago(2);
  struct Row {
    const char* name;
    std::vector<std::string> change;
    int before;          // the night the change comes before in the reference
    int stale;           // follow-ups a plain run names
    const char* reason;
    bool refused;        // a day a person changed stays: no reference to compare
  };
  const std::vector<Row> rows = {
      {"gone", {"DELETE FROM Qel321Bch WHERE " + k}, 3, 3, "source gone", false},
      {"changed", {"UPDATE Qel321Bch SET BchFcd = 'U' WHERE " + k,
                   "UPDATE Qel327Tag SET TagTgb = 'U' WHERE TagPnr = 'S1' AND TagTag = " + Ago(4)},
       3, 3, "source changed", false},
      {"cancelled", {"UPDATE Qel321Bch SET BchFkt = 45 WHERE " + k}, 3, 3, "source cancelled",
       false},
      {"newer", {"INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES ('S1', " +
                 Ago(2) + ", TIMESTAMP(" + Ago(2) + ", '06:00:00'), 1, 'U')"},
       2, 2, "newer message", false},
      {"follow-up by hand", {"UPDATE Qel321Bch SET BchFcd = 'U' WHERE " + kf2}, 1, 1,
       "source changed", false},
      {"day record by hand", {"UPDATE Qel321Bch SET BchFcd = 'U' WHERE " + k,
                              "UPDATE Qel327Tag SET TagHtv = 'X', TagHvs = 60 WHERE TagPnr = 'S1'"
                              " AND TagTag = " + Ago(2)},
       3, 3, "source changed", true},
  };
  const std::string report = "--report=" + work_.File("c.json");
  auto nights = [&](const Row& row, bool reference) {
    Reseed(3);
    CompleteNight(4);
    // A weaker message on the middle day, which its KF cancels; meeting the
    // cancelled Y of the same time, the cancellation deletes Y first.
    Seed("INSERT INTO Qel131Fcd (FcdNum, FcdTyp, FcdZwt, FcdStd, FcdSol, FcdPri, FcdGpu) VALUES"
         " ('X', 1, 1, 0, 0, 9, 0)");
    Seed("INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES ('S1', " +
         Ago(2) + ", TIMESTAMP(" + Ago(2) + ", '08:00:00'), 1, 'X'), ('S1', " + Ago(2) +
         ", TIMESTAMP(" + Ago(2) + ", '08:00:00'), 45, 'Y')");
    for (int night = 3; night >= 1; --night) {
      if (reference && row.before == night) for (const auto& sql : row.change) Seed(sql);
      ASSERT_EQ(Run("XXX", "D", {"--day=" + Dashed(night)}).status, 0) << row.name;
    }
    if (!reference) for (const auto& sql : row.change) Seed(sql);
  };
  for (const Row& row : rows) {
    std::string expected;
    if (!row.refused) {
      nights(row, true);
      ASSERT_EQ(Run("XXX", "D").status, 0) << row.name;
      expected = State();
    }
    nights(row, false);
    const std::string corrected = State();
    RunResult plain = Run("XXX", "D", {"--metrics=" + work_.File("p.prom")});
    EXPECT_EQ(plain.status, 0) << row.name << plain.err;
    EXPECT_NE(plain.err.find(std::to_string(row.stale) + " follow-up(s) of 1 person(s)"),
              std::string::npos) << row.name << plain.err;
    EXPECT_NE(plain.err.find(row.reason), std::string::npos) << row.name << plain.err;
    EXPECT_NE(ReadFile(work_.File("p.prom")).find("\npirzol_corrections_pending " +
                                                  std::to_string(row.stale) + "\n"),
              std::string::npos) << row.name;
    EXPECT_EQ(State(), corrected) << row.name;

    RunResult dry = Run("XXX", "D", {"--correct", "--dry-run", report});
    EXPECT_EQ(dry.status, 0) << row.name << dry.err;
    EXPECT_EQ(State(), corrected) << row.name;
    const std::string look = ReadFile(work_.File("c.json"));
    // In three workers: the corrections and the days they withdrew are the run's own.
    RunResult fix = Run("XXX", "D", {"--correct", report, "--workers=3"});
    EXPECT_EQ(fix.status, 0) << row.name << fix.err;
    const std::string done = ReadFile(work_.File("c.json"));
    // The same objects but the run's own, which says dry_run.
    EXPECT_EQ(done.substr(0, done.rfind("{\"format\"")), look.substr(0, look.rfind("{\"format\"")))
        << row.name;
    EXPECT_NE(done.find("\"correction\":\"taken back\""), std::string::npos) << row.name << done;
    if (row.refused) {
      EXPECT_NE(fix.err.find("refused to take back person S1's day " + Dashed(2)),
                std::string::npos) << row.name << fix.err;
      // The day a person changed keeps its follow-up, and the next is carried from it.
      EXPECT_EQ(admin_->Query("SELECT COUNT(*) FROM " + db_ + ".Qel321Bch WHERE BchPnr = 'S1'"
                              " AND BchFcd = 'KF' AND BchFkt = 1")[0][0], "2") << row.name;
    } else {
      EXPECT_EQ(State(), expected) << row.name;
    }
    // Every day whose rows changed goes to the next step again.
    EXPECT_NE(ParamFile().find("S1      ," + Dotted(1)), std::string::npos) << row.name;
    // Nothing is left pending, and a second run changes nothing.
    const std::string after = State();
    RunResult again = Run("XXX", "D", {"--correct"});
    EXPECT_EQ(again.err.find("follow-up(s)"), std::string::npos) << row.name << again.err;
    EXPECT_EQ(State(), after) << row.name;
  }
}

}  // namespace
