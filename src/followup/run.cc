#include "followup/run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <algorithm>
#include <string>
#include <vector>

#include "db/db.h"
#include "db/lau.h"
#include "followup/hourmsg.h"
#include "followup/lease.h"
#include "followup/prevday.h"
#include "followup/report.h"
#include "followup/search.h"
#include "followup/unit.h"
#include "base/counts.h"
#include "base/log.h"
#include "base/runflags.h"

namespace {

constexpr char kParamFile[] = "pirzoltgb";
// The lines are gathered here and renamed over the parameter file at the
// end, so the next step finds an empty file or a whole one, never a part.
constexpr char kParamTemp[] = "pirzoltgb.tmp";
// It names persons with their sickness codes' days.
constexpr mode_t kParamMode = 0640;

constexpr char kTxtFopenTgb[] = "Fehler: fopen(pirzoltgb)!\n";
constexpr char kTxtCurOpenTag[] = "Fehler(Cur_open): Tagsatz(+TgbSol) lesen! ";
constexpr char kTxtCurReadTag[] = "Fehler(Cur_Read): Tagsatz(+TgbSol) lesen! ";
constexpr char kValRc[] = "RC:%d\n";
constexpr char kTxtPnrLang[] = "Fehler(TagAkt_Read): Personalnummer zu lang! ";
constexpr char kValPnrTag[] = "Pnr:%s Tag:%s\n";

constexpr char kTrcLesen[] = "\nLesen TagSatz!\n";
constexpr char kTrcAktuell[] = "aktueller Tagsatz!!!\n";
constexpr char kTrcLetzter[] = "letzter Tagsatz!!!\n";
constexpr char kTrcGefunden[] = "Tag mit letzter Meldung gefungen! Pnr: %s Datum: %s!\n";
constexpr char kTrcBeginn[] = "\nBeginn Meldungsverarbeitung!\n";
constexpr char kTrcEnde[] = "\nEnde Meldungsverarbeitung!\n";
constexpr char kTrcParam[] = "Parametersatz in Datei schreiben: %s!\n";

void PrintPair(const TagSatz& tag, const TagSatz& last) {
  Trace(kTrcAktuell);
  Tag_Print(tag);
  Trace(kTrcLetzter);
  Tag_Print(last);
}

// Creates (or empties) name with the parameter file's mode; -1 on failure.
int CreateFile(const char* name) {
  int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kParamMode);
  if (fd >= 0 && fchmod(fd, kParamMode) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Empties the parameter file, as every run does before its first day, and
// opens the file its lines are gathered in. nullptr when either fails.
std::FILE* ParamOpen() {
  int fd = CreateFile(kParamFile);
  if (fd < 0) return nullptr;
  close(fd);
  fd = CreateFile(kParamTemp);
  if (fd < 0) return nullptr;
  std::FILE* f = fdopen(fd, "w");
  if (f == nullptr) close(fd);
  return f;
}

// Puts the gathered lines in place: flushed, synced, renamed over the
// parameter file, and the rename synced with its folder. 0, or -1 with the
// parameter file left empty.
int ParamFinish(std::FILE* f) {
  bool ok = std::fflush(f) == 0 && std::ferror(f) == 0 && fsync(fileno(f)) == 0;
  int err = errno;
  ok = std::fclose(f) == 0 && ok;
  if (ok && std::rename(kParamTemp, kParamFile) == 0) {
    int dir = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      (void)fsync(dir);  // a folder that cannot be synced keeps the rename all the same
      close(dir);
    }
    return 0;
  }
  if (err == 0) err = errno;
  std::remove(kParamTemp);
  std::fprintf(stderr, "pirzol: writing the parameter file %s failed (%s); it is left empty\n",
               kParamFile, std::strerror(err));
  return -1;
}

}  // namespace

void Param_Line(const TagSatz& tag, const char* database, char* line, std::size_t size) {
  // TagTag is YYYYMMDD; the next step reads the day as DD.MM.YYYY.
  const char* d = tag.TagTag.c_str();
  char date[11] = {};
  std::snprintf(date, sizeof date, "%.2s.%.2s.%.4s", tag.TagTag.size() >= 8 ? d + 6 : "",
                tag.TagTag.size() >= 6 ? d + 4 : "", d);
  if (KonsolMode != 0) {
    std::snprintf(line, size, "%-20s,%-8s,%-10s\n", database, tag.TagPnr.c_str(), date);
  } else {
    std::snprintf(line, size, "%-8s,%-10s\n", tag.TagPnr.c_str(), date);
  }
}

namespace {

// What one night's walk needs besides its date.
struct Night {
  const char* database;
  const char* date;            // YYYYMMDD
  NightPlan* plan;
  const RunOptions* opts;
  std::FILE* param;            // nullptr when the lines go nowhere but the trace
  std::vector<std::string> handled;  // persons whose day is recorded as handled, sorted
  std::vector<std::string> listed;   // persons this run wrote a line for, in order
  int complete = 1;
};

bool Recording(const Night& n) { return n.plan->record != 0 && n.plan->runId > 0; }

void WriteLine(Night& n, const TagSatz& tag) {
  char line[100] = {};
  Param_Line(tag, n.database, line, sizeof line);
  Trace(kTrcParam, line);
  if (n.param != nullptr && std::fputs(line, n.param) < 0) n.complete = 0;
  n.listed.emplace_back(tag.TagPnr.c_str());
}

// The day's row in the record, when no unit of the day wrote it. A day
// that changed nothing has its row kept with the next commit; if that is
// lost the day is handled again, which changes nothing. A day a unit of
// which failed after another was committed must not pass as handled: that
// row is committed at once.
void RecordDay(Night& n, const TagSatz& tag, bool failed, int line) {
  if (!Recording(n) || Unit_Lost() != 0) return;
  if (Unit_Recorded() == 0) {
    (void)Lat_Insert(n.date, tag.TagPnr.c_str(), n.plan->runId, failed ? "failed" : "nothing",
                     line);
  } else if (failed || line == 0) {
    if (Lat_Insert(n.date, tag.TagPnr.c_str(), n.plan->runId, failed ? "failed" : "changed",
                   line) == 0 &&
        Db_Commit() == 1) {
      ++MldCount.commits;
    }
  }
}

// One accounted day: the search, the day-message units and the rest of the
// day, its line and its row in the record. 0, or PZL_LEASE_LOST when the run
// must stop before it because another run took the database over.
int HandleDay(Night& n, TagSatz& tag) {
  // Between two days no unit is open: the heartbeat's commit takes nothing
  // half done with it. A dry run commits nothing, so it renews nothing.
  if (DryRun == 0 && Lease_Tick() != 0) return PZL_LEASE_LOST;
  const MldCounts before = MldCount;
  ++MldCount.daysRead;
  Unit_Record(n.date, tag.TagPnr.c_str(), Recording(n) ? n.plan->runId : 0);
  Rpt_Day(tag);
  TagSatz last{};
  Trace(kTrcLesen);
  Trace(kTrcAktuell);
  Tag_Print(tag);
  int found = 0;
  Unit search;
  Unit_Begin(search, tag, "Suche", "", kUnitCommitChanges);
  do {
    last = TagSatz{};
    found = Mld_FindLastDay(tag.TagPnr.c_str(), tag.TagTag.c_str(), last);
  } while (Unit_Again(search) != 0);
  if (Unit_Result(search) != 0) found = 0;
  int line = 0;
  if (found != 0) {
    ++MldCount.daysFound;
    Rpt_Found(last);
    Trace(kTrcGefunden, last.TagPnr.c_str(), last.TagTag.c_str());
    Trace(kTrcBeginn);
    PrintPair(tag, last);
    int prev = Mld_PrevDay(tag, last);
    int hour = 0;
    if (Unit_Lost() == 0) {
      // The rest of the day is a unit of its own, ended by the day-end
      // commit, so a rollback never takes one person's work to another.
      Unit rest;
      Unit_Begin(rest, tag, "StdMld", "", kUnitCommitChanges);
      do {
        hour = Mld_HourMsg(tag, last);
      } while (Unit_Again(rest) != 0);
      if (Unit_Result(rest) != 0) hour = 0;
    }
    Trace(kTrcEnde);
    PrintPair(tag, last);
    if (prev != 0 || hour != 0) {
      WriteLine(n, tag);
      line = 1;
    }
  }
  RecordDay(n, tag, MldCount.givenUp != before.givenUp, line);
  Unit_Record(nullptr, nullptr, 0);
  Rpt_DayEnd(line, MldCount.retries - before.retries);
  return 0;
}

// Walks the placeholder days of one date. 1 when every driving row was
// walked: the night is complete, failed days or not.
int WalkNight(Night& n) {
  TagSatz tag{};
  int rc = TagAkt_Open(n.date);
  const bool opened = rc == 0;
  if (!opened) {
    Log_Fail(kTxtCurOpenTag, kValRc, rc);
    std::fprintf(stderr, "pirzol: reading the day records of %s failed (%d): %s\n", n.date, rc,
                 Db_ErrText());
    n.complete = 0;
  }

  rc = TagAkt_Read(tag);
  while (rc == 0 || rc == TAG_PNR_TOO_LONG) {
    if (rc == TAG_PNR_TOO_LONG) {
      // The cut number may be somebody else's: booking for it would credit
      // the wrong person, so the day waits for its data to be mended.
      Log_Fail(kTxtPnrLang, kValPnrTag, tag.TagPnr.c_str(), tag.TagTag.c_str());
      std::fprintf(stderr, "pirzol: a personnel number starting %s on %s is longer than 8 "
                   "characters; that day was not handled\n", tag.TagPnr.c_str(),
                   tag.TagTag.c_str());
      n.complete = 0;
    } else if (std::binary_search(n.handled.begin(), n.handled.end(),
                                  std::string(tag.TagPnr.c_str()))) {
      ++MldCount.daysSkipped;  // handled by an earlier run: not a statement spent on it
    } else {
      if (HandleDay(n, tag) != 0) {
        n.complete = 0;
        rc = PZL_LEASE_LOST;
        break;
      }
      if (Unit_Lost() != 0) {
        // The session is gone: the days not yet read stay for the next run.
        n.complete = 0;
        break;
      }
    }
    tag = TagSatz{};
    rc = TagAkt_Read(tag);
  }
  bool walked = rc == END_OF_DATA;
  if (rc != END_OF_DATA && Unit_Lost() == 0 && rc != PZL_LEASE_LOST) {
    Log_Fail(kTxtCurReadTag, kValRc, rc);
    // After a failed open the read can only answer -1; that was told above.
    if (opened) {
      std::fprintf(stderr,
                   "pirzol: reading the day records stopped (%d) after %d days; the rest were "
                   "not handled\n",
                   rc, static_cast<int>(MldCount.daysRead));
    }
    n.complete = 0;
  }
  (void)TagAkt_Close();  // answers -1 after a failed open; nothing was held
  return walked ? 1 : 0;
}

// The days of a night that earlier runs changed and listed, which this run
// skipped: the next step may never have seen the file that listed them.
void ListAgain(Night& n) {
  std::vector<std::string> earlier;
  if (Lat_Listed(n.date, n.plan->runId, earlier) != 0) return;
  for (const std::string& pnr : earlier) {
    if (std::find(n.listed.begin(), n.listed.end(), pnr) != n.listed.end()) continue;
    TagSatz tag{};
    tag.TagPnr.assign(pnr.c_str());
    tag.TagTag.assign(n.date);
    WriteLine(n, tag);
  }
}

}  // namespace

int Mld_Run(const char* database, const RunOptions& opts, NightPlan& plan) {
  if (plan.dates.empty()) {
    // The parameter file stays as it is: emptying it would hide from the
    // next step the days of a night it may not have read yet.
    std::fprintf(stderr,
                 "pirzol: no night is due (the newest complete night is %.4s-%.2s-%.2s); "
                 "pirzoltgb was left as it is\n",
                 plan.newest.c_str(), plan.newest.c_str() + 4, plan.newest.c_str() + 6);
    return 0;
  }
  int complete = 1;
  if (plan.record != 0 && DryRun == 0) {
    char host[65] = {};
    (void)gethostname(host, sizeof host - 1);
    if (Lau_Insert(plan.dates.front().c_str(), plan.dates.back().c_str(), host,
                   opts.work.c_str(), plan.runId) != 0 ||
        Db_Commit() != 1) {
      std::fprintf(stderr, "pirzol: the run could not be recorded (%d): %s\n", Db_ErrNo(),
                   Db_ErrText());
      return -1;
    }
    ++MldCount.commits;
  }
  std::FILE* param = nullptr;
  if (DryRun == 0) {
    param = ParamOpen();
    if (param == nullptr) {
      Log_FailLine(kTxtFopenTgb);
      std::fprintf(stderr, "pirzol: cannot create the parameter file %s; its lines are lost\n",
                   kParamFile);
      complete = 0;
    }
  }
  for (const std::string& date : plan.dates) {
    Night n;
    n.database = database;
    n.date = date.c_str();
    n.plan = &plan;
    n.opts = &opts;
    n.param = param;
    if (plan.record != 0 && opts.again == 0 && Lat_Handled(n.date, n.handled) != 0) {
      std::fprintf(stderr, "pirzol: the record of %s could not be read (%d); not handled\n",
                   n.date, Db_ErrNo());
      complete = 0;
      break;
    }
    int walked = WalkNight(n);
    if (Recording(n) && walked != 0 && Unit_Lost() == 0) {
      ListAgain(n);
      // The night is complete, and with it the rows of its days that
      // changed nothing; one COMMIT keeps both.
      if (Lau_Night(plan.runId, n.date) != 0 || Db_Commit() != 1) {
        walked = 0;
      } else {
        ++MldCount.commits;
        ++MldCount.nightsDone;
      }
    } else if (walked != 0 && Unit_Lost() == 0) {
      ++MldCount.nightsDone;
    }
    if (n.complete == 0) complete = 0;
    // A follow-up booked on one date is the last message day of the next:
    // a night not walked to its end stops the run.
    if (walked == 0 || Unit_Lost() != 0) {
      complete = 0;
      break;
    }
  }
  if (param != nullptr && ParamFinish(param) != 0) complete = 0;
  if (MldCount.givenUp != 0) complete = 0;
  return complete != 0 ? 0 : -1;
}
