#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/metrics.h"
#include "support/batch.h"

namespace {

using Figures = std::map<std::string, long long>;

// The file read as strictly as the collector may read it, and stricter:
// every figure is three lines, "# HELP name text", "# TYPE name gauge" and
// "name value" with a whole number, the name followed at most by one label
// whose value is quoted and escaped, no name comes twice, and the file ends
// with a newline. Anything else fails.
Figures ParseStrict(const std::string& text) {
  Figures out;
  EXPECT_TRUE(!text.empty() && text.back() == '\n') << "no newline at the end";
  std::istringstream in(text);
  std::string help, type, sample;
  while (std::getline(in, help)) {
    std::getline(in, type);
    std::getline(in, sample);
    static const std::regex kSample(
        R"(([a-z_:][a-z0-9_:]*)(\{[a-z_]+="([^"\\\n]|\\[\\"n])*"\})? ([0-9]+))");
    std::smatch m;
    const bool whole = std::regex_match(sample, m, kSample);
    EXPECT_TRUE(whole) << "not a name, a label at most and a whole number: " << sample;
    const std::string name = whole ? m[1].str() : sample;
    EXPECT_EQ(help.rfind("# HELP " + name + " ", 0), 0u) << help;
    EXPECT_GT(help.size(), name.size() + 8) << "no help text: " << help;
    EXPECT_EQ(type, "# TYPE " + name + " gauge");
    EXPECT_EQ(out.count(name), 0u) << "given twice: " << name;
    out[name] = whole ? std::stoll(m[4].str()) : -1;
  }
  return out;
}

// promtool, when Debian's prometheus package is installed, checks the file as
// the collector's own parser reads it, and lints the names.
void CheckWithPromtool(const std::string& text, const std::string& dir) {
  RunResult probe = RunProgram("promtool", {"--version"}, dir);
  if (probe.status == 127) return;  // not installed: the strict parser above has to do
  RunResult r = RunProgram("promtool", {"check", "metrics"}, dir, {}, text);
  // The one name the lint would have otherwise is the operators' own word:
  // a day of the calendar, no unit of time.
  std::string said = r.out + r.err;
  const std::string known = "pirzol_days_failed use base unit \"seconds\" instead of \"days\"\n";
  if (said.find(known) != std::string::npos) said.erase(said.find(known), known.size());
  EXPECT_TRUE(r.status == 0 || said.empty()) << r.out << r.err << text;
}

std::set<std::string> Entries(const std::string& dir) {
  std::set<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  for (dirent* e = readdir(d); e != nullptr; e = readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") names.insert(n);
  }
  closedir(d);
  return names;
}

constexpr std::int64_t kMarch1 = 1772323200;  // 2026-03-01 00:00 UTC
constexpr std::int64_t kNight = kMarch1 + 7200;  // the timer's 02:00, taken as UTC
constexpr std::int64_t kDay = 86400;

MetricsRun Night(int night, int status, int dryRun, std::vector<const char*> dates) {
  MetricsRun run{};
  run.start = kNight + night * kDay;
  run.end = run.start + 60 + night;
  run.status = status;
  run.dryRun = dryRun;
  // Each count its own value, so a figure under the wrong name shows.
  MldCounts& c = run.counts;
  c.nightsDone = 10;
  c.daysSkipped = 20 + night;
  c.daysRead = 11;
  c.daysFound = 12;
  c.generated = 13;
  c.cancelled = 14;
  c.failures = 15;
  c.commits = 16;
  c.retries = 17;
  c.givenUp = 18;
  for (const char* d : dates) run.dates[run.dateCount++].assign(d);
  return run;
}

// Nights one after another into the same file, as the timer runs them: the
// last success stays what it was through failures, dry runs and a file an
// operator edited, and moves on the next run that kept its work. A dry run
// and a start refused because another run is busy leave the last run's
// figures as they were and add their own.
TEST(Metrics, LastSuccessSurvivesEveryRunThatKeptNothing) {
  TempDir dir;
  const std::string path = dir.File("pirzol.prom");
  struct Step {
    const char* what;
    MetricsRun run;
    const char* before;       // file content put in place first, or nullptr
    std::int64_t success;     // the last success expected after the run
    std::int64_t newestDate;  // -1: no accounted date handled
    int shown = -1;           // the step whose run the last_run figures show; -1 this one
    bool dry = false;         // the dry run's figures are in the file
  };
  MetricsRun busy = Night(4, 2, 0, {});
  busy.refusedBusy = 1;
  const Step steps[] = {
      {"first night, could not start", Night(0, 2, 0, {}), nullptr, 0, -1},
      {"a night done", Night(1, 0, 0, {"20260301"}), nullptr, kNight + kDay + 61,
       kMarch1},
      {"a night given up in part", Night(2, 3, 0, {"20260302"}), nullptr, kNight + kDay + 61,
       kMarch1 + kDay},
      {"a dry run that went well", Night(3, 0, 1, {"20260303"}), nullptr, kNight + kDay + 61,
       kMarch1 + kDay, 2, true},
      {"another run held the lock", busy, nullptr, kNight + kDay + 61, kMarch1 + kDay, 2, true},
      {"a catch-up of three nights", Night(4, 0, 0, {"20260304", "20260302", "20260303"}),
       nullptr, kNight + 4 * kDay + 64, kMarch1 + 3 * kDay, -1, true},
      {"a statement too long after a file edited by hand", Night(5, 1, 0, {}),
       "# a longer name must not be taken for ours\n"
       "pirzol_last_success_timestamp_seconds_before 99\n"
       "pirzol_last_success_timestamp_seconds 1234567890\n",
       1234567890, -1},
      {"a damaged value is no value", Night(6, 3, 0, {}),
       "pirzol_last_success_timestamp_seconds 12x4\n", 0, -1},
  };
  const std::set<std::string> always = {
      "pirzol_last_run_start_timestamp_seconds", "pirzol_last_run_end_timestamp_seconds",
      "pirzol_last_run_duration_seconds",        "pirzol_last_run_exit_status",
      "pirzol_last_run_dry_run",                 "pirzol_last_run_nights_done",
      "pirzol_last_run_placeholders_skipped",    "pirzol_last_run_placeholders_read",
      "pirzol_last_run_placeholders_found",      "pirzol_last_run_followups_generated",
      "pirzol_last_run_bookings_cancelled",      "pirzol_last_run_failures",
      "pirzol_last_run_commits",                 "pirzol_last_run_retries",
      "pirzol_last_run_units_given_up",          "pirzol_last_run_accounted_dates_handled",
      "pirzol_last_success_timestamp_seconds",   "pirzol_build_info",
      "pirzol_days_failed",                      "pirzol_persons_held_back",
      "pirzol_last_run_refused_busy",            "pirzol_corrections_pending"};
  const std::string newest = "pirzol_last_run_newest_accounted_date_timestamp_seconds";

  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    const MetricsRun& run = s.shown < 0 ? s.run : steps[s.shown].run;
    if (s.before != nullptr) std::ofstream(path, std::ios::binary | std::ios::trunc) << s.before;
    ASSERT_EQ(Metrics_Write(path.c_str(), s.run), 0);
    std::string text = ReadFile(path);
    Figures f = ParseStrict(text);
    CheckWithPromtool(text, dir.path());

    std::set<std::string> names;
    for (const auto& kv : f) names.insert(kv.first);
    std::set<std::string> want = always;
    if (s.newestDate >= 0) want.insert(newest);
    for (const char* d : {"start_timestamp_seconds", "end_timestamp_seconds", "exit_status",
                          "followups_generated", "failures"}) {
      if (s.dry) want.insert(std::string("pirzol_last_dry_run_") + d);
    }
    EXPECT_EQ(names, want);
    EXPECT_EQ(f["pirzol_last_run_refused_busy"], s.run.refusedBusy);
    EXPECT_EQ(f["pirzol_last_dry_run_start_timestamp_seconds"], s.dry ? steps[3].run.start : 0);

    EXPECT_EQ(f["pirzol_last_success_timestamp_seconds"], s.success);
    if (s.newestDate >= 0) {
      EXPECT_EQ(f[newest], s.newestDate);
    }
    EXPECT_EQ(f["pirzol_last_run_accounted_dates_handled"], run.dateCount);
    EXPECT_EQ(f["pirzol_last_run_exit_status"], run.status);
    EXPECT_EQ(f["pirzol_last_run_dry_run"], 0);
    EXPECT_EQ(f["pirzol_last_run_start_timestamp_seconds"], run.start);
    EXPECT_EQ(f["pirzol_last_run_end_timestamp_seconds"], run.end);
    EXPECT_EQ(f["pirzol_last_run_duration_seconds"], run.end - run.start);
    EXPECT_EQ(f["pirzol_last_run_nights_done"], 10);
    EXPECT_EQ(f["pirzol_last_run_placeholders_skipped"], run.counts.daysSkipped);
    EXPECT_EQ(f["pirzol_last_run_placeholders_read"], 11);
    EXPECT_EQ(f["pirzol_last_run_placeholders_found"], 12);
    EXPECT_EQ(f["pirzol_last_run_followups_generated"], 13);
    EXPECT_EQ(f["pirzol_last_run_bookings_cancelled"], 14);
    EXPECT_EQ(f["pirzol_last_run_failures"], 15);
    EXPECT_EQ(f["pirzol_last_run_commits"], 16);
    EXPECT_EQ(f["pirzol_last_run_retries"], 17);
    EXPECT_EQ(f["pirzol_last_run_units_given_up"], 18);
    EXPECT_EQ(f["pirzol_build_info"], 1);

    // Read by the collector as another user; and no temporary file left
    // beside it for the folder to collect over the nights.
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"pirzol.prom"});
  }
}

// A file that cannot be replaced is reported and left as it was; the caller
// says so and the night ends as it would have.
TEST(Metrics, FailureLeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  const std::string path = dir.File("pirzol.prom");
  ASSERT_EQ(Metrics_Write(path.c_str(), Night(1, 0, 0, {"20260301"})), 0);
  const std::string before = ReadFile(path);
  ASSERT_EQ(mkdir(dir.File("taken.prom").c_str(), 0755), 0);

  EXPECT_EQ(Metrics_Write(dir.File("taken.prom").c_str(), Night(2, 0, 0, {})), EISDIR);
  EXPECT_EQ(Metrics_Write(dir.File("missing/pirzol.prom").c_str(), Night(2, 0, 0, {})), ENOENT);
  EXPECT_EQ(Metrics_Write(std::string(5000, 'm').c_str(), Night(2, 0, 0, {})), ENAMETOOLONG);
  EXPECT_EQ(Metrics_Write("", Night(2, 0, 0, {})), EINVAL);

  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(Entries(dir.path()), (std::set<std::string>{"pirzol.prom", "taken.prom"}));
  EXPECT_EQ(Entries(dir.File("taken.prom")), std::set<std::string>{});
}

class MetricsOfTheBatch : public BatchTest {};

// The batch's nights as monitoring sees them: one done; one refused for a
// wrong password, which says so and carries the last success over; and a
// second start refused by the folder lock, which leaves the file alone: it
// belongs to the run holding the folder.
TEST_F(MetricsOfTheBatch, EveryAttemptButOneInALockedFolderIsWritten) {
  const std::string path = work_.File("pirzol.prom");
  const std::string success = "pirzol_last_success_timestamp_seconds";
  ASSERT_EQ(Run("XXX", "D", {"--metrics=" + path}).status, 0);
  Figures done = ParseStrict(ReadFile(path));
  EXPECT_EQ(done[success], done["pirzol_last_run_end_timestamp_seconds"]);

  WriteRawIni(kTestUser, "not-the-password", "localhost", db_ + ".");
  EXPECT_EQ(Run("XXX", "D", {"--metrics=" + path}).status, 2);
  const std::string refused = ReadFile(path);
  Figures f = ParseStrict(refused);
  EXPECT_EQ(f["pirzol_last_run_exit_status"], 2);
  EXPECT_EQ(f[success], done[success]);

  // Another host's run holding the database's lock, then a dry run: neither
  // changes the last run's status; each says its own.
  WriteRawIni(kTestUser, kTestPass, "localhost", db_ + ".");
  {
    AdminSession other;
    ASSERT_EQ(other.Query("SELECT GET_LOCK('pirzol." + Upper(db_) + "', 0)")[0][0], "1");
    EXPECT_EQ(Run("XXX", "D", {"--metrics=" + path}).status, 2);
  }
  EXPECT_EQ(Run("XXX", "D", {"--metrics=" + path, "--dry-run"}).status, 0);
  const std::string kept = ReadFile(path);
  f = ParseStrict(kept);
  EXPECT_EQ(f["pirzol_last_run_exit_status"], 2);
  EXPECT_EQ(f["pirzol_last_run_refused_busy"], 1);
  EXPECT_EQ(f["pirzol_last_dry_run_exit_status"], 0);
  EXPECT_EQ(f[success], done[success]);

  int fd = open(work_.File("pirzol.lock").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(Run("XXX", "D", {"--metrics=" + path}).status, 2);
  close(fd);
  EXPECT_EQ(ReadFile(path), kept);
}

}  // namespace
