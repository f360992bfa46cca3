#include "app/metrics.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "base/exitcodes.h"

// The build's version, as the build names it; a build without that name
// still writes a valid file.
#ifndef PIRZOL_VERSION
#define PIRZOL_VERSION "unknown"
#endif

namespace {

// Alert rules and dashboards are written against these names: they stay.
constexpr char kSuccessName[] = "pirzol_last_success_timestamp_seconds";
constexpr char kSuccessHelp[] =
    "When a run last ended with status 0 and kept its work, in unix seconds; 0 when none is "
    "known.";

// The collector reads only files ending in ".prom", so the temporary file
// beside the target is never read half-written.
constexpr char kTempSuffix[] = ".XXXXXX";
constexpr mode_t kMetricsMode = 0644;

// Which build wrote the file, as a label: after an upgrade a dashboard shows
// the nights of each version apart.
constexpr char kBuildName[] = "pirzol_build_info";
constexpr char kBuildHelp[] = "The build that wrote this file; always 1.";
constexpr char kVersion[] = PIRZOL_VERSION;

// A dry run keeps its own figures under this prefix; the last run's stay.
constexpr char kDryPrefix[] = "pirzol_last_dry_run_";
// A start refused because another run held the database's lock or lease:
// no failure, the other run does the night; the last run's figures stay.
constexpr char kBusyName[] = "pirzol_last_run_refused_busy";
constexpr char kBusyHelp[] =
    "1 when the last start found another run holding the database's lock and left the night "
    "to it; the last_run figures are of the run before.";

// One gauge and its value. Every figure is a gauge: each file describes one
// run, so a figure can go down from one file to the next.
struct Gauge {
  const char* name;
  const char* help;
  std::int64_t value;
};

// A whole unix time of our own writing: digits, then the line's end. Anything
// else is read as no value, so a hand-edited or damaged file costs the
// carried time and never the run. Num_Parse holds 32 bits only, too few for
// times past 2038, and it takes a leading number of any line.
std::int64_t ParseSeconds(const char* text) {
  char* rest = nullptr;
  errno = 0;
  long long value = std::strtoll(text, &rest, 10);
  if (errno != 0 || rest == text || value < 0 || text[0] < '0' || text[0] > '9') return 0;
  if (std::strcmp(rest, "\n") != 0 && std::strcmp(rest, "\r\n") != 0 && rest[0] != '\0') return 0;
  return static_cast<std::int64_t>(value);
}

// The lines of the file being replaced; none when there is none. A link or
// a FIFO in the file's place is not read: a FIFO would stop the run's end
// until somebody wrote to it.
std::vector<std::string> OldLines(const char* path) {
  std::vector<std::string> lines;
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return lines;
  struct stat st {};
  std::FILE* f = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? fdopen(fd, "r") : nullptr;
  if (f == nullptr) {
    (void)close(fd);
    return lines;
  }
  char* line = nullptr;
  std::size_t cap = 0;
  ssize_t n = 0;
  while ((n = getline(&line, &cap, f)) > 0) {
    lines.emplace_back(line, static_cast<std::size_t>(n));
    if (lines.back().back() != '\n') lines.back() += '\n';
  }
  std::free(line);
  std::fclose(f);
  return lines;
}

// The metric a line of the text format belongs to: its sample's name, or
// the name a HELP or TYPE comment is about; "" for other comments.
std::string NameOf(const std::string& line) {
  std::size_t b = 0;
  if (line.rfind("# HELP ", 0) == 0 || line.rfind("# TYPE ", 0) == 0) {
    b = 7;
  } else if (line.empty() || line[0] == '#') {
    return "";
  }
  return line.substr(b, line.find_first_of(" {\n", b) - b);
}

// The last success among the old file's lines; 0 when there is none.
std::int64_t PreviousSuccess(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (NameOf(line) == kSuccessName && line[0] != '#') {
      return ParseSeconds(line.c_str() + sizeof kSuccessName);
    }
  }
  return 0;
}

// Copies the old file's lines of the metrics whose names begin with prefix
// (keep true) or of all others (keep false), build_info never: the file
// being written says which build wrote it.
void Carry(std::FILE* f, const std::vector<std::string>& lines, const char* prefix, bool keep) {
  for (const std::string& line : lines) {
    std::string name = NameOf(line);
    if (name.empty() || name == kBuildName) continue;
    if ((name.rfind(prefix, 0) == 0) == keep) std::fputs(line.c_str(), f);
  }
}

// 00:00 UTC of a YYYYMMDD date, or -1 when it is none. UTC, so the figure is
// the same whatever zone the machine runs in.
std::int64_t DateSeconds(const FixText<9>& date) {
  if (date.size() != 8) return -1;
  const char* text = date.c_str();
  for (int i = 0; i < 8; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
  }
  std::int32_t digits = Num_Parse(text);
  std::tm tm{};
  tm.tm_year = digits / 10000 - 1900;
  tm.tm_mon = digits / 100 % 100 - 1;
  tm.tm_mday = digits % 100;
  if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > 31) return -1;
  return static_cast<std::int64_t>(timegm(&tm));
}

void Put(std::FILE* f, const Gauge& g) {
  std::fprintf(f, "# HELP %s %s\n# TYPE %s gauge\n%s %lld\n", g.name, g.help, g.name, g.name,
               static_cast<long long>(g.value));
}

// The version as a label value: a backslash, a double quote and a line's end
// would end the value or the line early, so they are escaped.
void PutBuild(std::FILE* f) {
  std::fprintf(f, "# HELP %s %s\n# TYPE %s gauge\n%s{version=\"", kBuildName, kBuildHelp,
               kBuildName, kBuildName);
  for (const char* c = kVersion; *c != '\0'; ++c) {
    if (*c == '\\' || *c == '"') std::fputc('\\', f);
    if (*c == '\n') {
      std::fputs("\\n", f);
    } else {
      std::fputc(*c, f);
    }
  }
  std::fputs("\"} 1\n", f);
}

void PutAll(std::FILE* f, const MetricsRun& run, std::int64_t success) {
  PutBuild(f);
  const MldCounts& c = run.counts;
  const Gauge gauges[] = {
      {"pirzol_last_run_start_timestamp_seconds", "When the last run began, in unix seconds.",
       run.start},
      {"pirzol_last_run_end_timestamp_seconds", "When the last run ended, in unix seconds.",
       run.end},
      {"pirzol_last_run_duration_seconds", "How long the last run took.",
       run.end > run.start ? run.end - run.start : 0},
      {"pirzol_last_run_exit_status",
       "Exit status of the last run: 0 done, 1 a statement did not fit, 2 not started, 3 "
       "incomplete.",
       run.status},
      {"pirzol_last_run_dry_run", "Always 0: a dry run writes pirzol_last_dry_run_* instead.",
       run.dryRun != 0 ? 1 : 0},
      {"pirzol_last_run_nights_done", "Nights the last run walked to their end.", c.nightsDone},
      {"pirzol_last_run_placeholders_skipped",
       "Placeholder days skipped as handled by an earlier run.", c.daysSkipped},
      {"pirzol_last_run_placeholders_read", "Placeholder days the last run handled.", c.daysRead},
      {"pirzol_last_run_placeholders_found", "Placeholder days whose last message day was found.",
       c.daysFound},
      {"pirzol_last_run_followups_generated", "Follow-up bookings generated.", c.generated},
      {"pirzol_last_run_bookings_cancelled", "Weaker bookings cancelled for a follow-up.",
       c.cancelled},
      {"pirzol_last_run_failures", "Failures met by the last run.", c.failures},
      {"pirzol_last_run_commits", "COMMITs the server accepted.", c.commits},
      {"pirzol_last_run_retries", "Units of work rolled back by the server and run again.",
       c.retries},
      {"pirzol_last_run_units_given_up", "Units of work that failed on every try; none kept.",
       c.givenUp},
      {"pirzol_corrections_pending",
       "Follow-ups whose messages were corrected since, left for a run with --correct.",
       c.pending},
      {"pirzol_days_failed",
       "Placeholder days the last run left undone; each holds its person back.", c.daysFailed},
      {"pirzol_persons_held_back",
       "Persons whose later days wait for an earlier day not done, after the last run.",
       run.heldBack},
  };
  for (const Gauge& g : gauges) Put(f, g);

  int count = run.dateCount < 0 ? 0 : run.dateCount;
  if (count > kMetricsMaxDates) count = kMetricsMaxDates;
  Put(f, {"pirzol_last_run_accounted_dates_handled", "Accounted dates the last run handled.",
          count});
  std::int64_t newest = -1;
  for (int i = 0; i < count; ++i) {
    std::int64_t s = DateSeconds(run.dates[i]);
    if (s > newest) newest = s;
  }
  // Absent rather than 0 when no date was handled: a 0 would read as a date
  // in 1970 and hide that nothing was accounted.
  if (newest >= 0) {
    Put(f, {"pirzol_last_run_newest_accounted_date_timestamp_seconds",
            "00:00 UTC of the newest accounted date the last run handled.", newest});
  }
  Put(f, {kSuccessName, kSuccessHelp, success});
}

// The folder of path, so the rename can be made durable; "." for a bare name.
void SyncFolder(const char* path) {
  char dir[PATH_MAX] = ".";
  const char* slash = std::strrchr(path, '/');
  if (slash != nullptr) {
    std::size_t n = slash == path ? 1 : static_cast<std::size_t>(slash - path);
    std::snprintf(dir, sizeof dir, "%.*s", static_cast<int>(n), path);
  }
  int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;  // the file is in place; only its durability is in doubt
  (void)fsync(fd);
  (void)close(fd);
}

}  // namespace

int Metrics_Write(const char* path, const MetricsRun& run) {
  if (path == nullptr || path[0] == '\0') return EINVAL;
  char tmp[PATH_MAX];
  int len = std::snprintf(tmp, sizeof tmp, "%s%s", path, kTempSuffix);
  if (len < 0 || static_cast<std::size_t>(len) >= sizeof tmp) return ENAMETOOLONG;

  // Read before anything is written: the old file is the only memory of the
  // last success and of the last real run, and neither a dry run nor a
  // start refused because another run is busy may change them.
  const std::vector<std::string> old = OldLines(path);
  std::int64_t success = run.status == kExitOk ? run.end : PreviousSuccess(old);

  int fd = mkostemp(tmp, O_CLOEXEC);
  if (fd < 0) return errno;
  // Explicit, not left to the umask: the collector runs as another user.
  int rc = fchmod(fd, kMetricsMode) == 0 ? 0 : errno;
  std::FILE* f = nullptr;
  if (rc == 0) {
    f = fdopen(fd, "w");
    if (f == nullptr) rc = errno;
  }
  if (f == nullptr) {
    (void)close(fd);
    (void)unlink(tmp);
    return rc != 0 ? rc : EIO;
  }
  errno = 0;
  if (run.dryRun != 0) {
    Carry(f, old, kDryPrefix, false);
    PutBuild(f);
    const Gauge dry[] = {
        {"pirzol_last_dry_run_start_timestamp_seconds", "When the last dry run began.", run.start},
        {"pirzol_last_dry_run_end_timestamp_seconds", "When the last dry run ended.", run.end},
        {"pirzol_last_dry_run_exit_status", "Exit status of the last dry run.", run.status},
        {"pirzol_last_dry_run_followups_generated", "Follow-ups the last dry run would book.",
         run.counts.generated},
        {"pirzol_last_dry_run_failures", "Failures the last dry run met.", run.counts.failures},
    };
    for (const Gauge& g : dry) Put(f, g);
  } else if (run.refusedBusy != 0) {
    Carry(f, old, kBusyName, false);
    PutBuild(f);
    Put(f, {kBusyName, kBusyHelp, 1});
  } else {
    PutAll(f, run, success);
    Put(f, {kBusyName, kBusyHelp, 0});
    Carry(f, old, kDryPrefix, true);
  }
  if (std::fflush(f) != 0 || std::ferror(f) != 0) rc = errno != 0 ? errno : EIO;
  // On disk before the rename, or a crash could leave an empty file under
  // the old name and take the last success with it.
  if (rc == 0 && fsync(fileno(f)) != 0) rc = errno;
  if (std::fclose(f) != 0 && rc == 0) rc = errno != 0 ? errno : EIO;
  if (rc == 0 && std::rename(tmp, path) != 0) rc = errno;
  if (rc != 0) {
    (void)unlink(tmp);
    return rc;
  }
  SyncFolder(path);
  return 0;
}
