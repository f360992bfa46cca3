#include "followup/run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "db/db.h"
#include "db/lau.h"
#include "followup/correct.h"
#include "followup/hourmsg.h"
#include "followup/lease.h"
#include "followup/prevday.h"
#include "followup/report.h"
#include "followup/search.h"
#include "followup/unit.h"
#include "followup/workers.h"
#include "base/counts.h"
#include "base/exitcodes.h"
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
constexpr char kTxtCommit[] = "Fehler(Db_Commit): Abschluss der Verarbeitung! ";
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
// A link planted in its place is not followed: the batch must not write
// into a file somebody else chose.
int CreateFile(const char* name, int flags) {
  int fd = open(name, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | flags, kParamMode);
  if (fd >= 0 && fchmod(fd, kParamMode) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// The parameter file stays as it is until the gathered lines replace it: a
// run by hand adds to it (ParamOpen's keep).
bool ParamKept = false;

// Copies the parameter file's lines to fd; true when done or there is none.
bool CopyParamFile(int fd) {
  int in = open(kParamFile, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) return errno == ENOENT;
  char buf[8192];
  bool ok = true;
  for (ssize_t n = 0; ok && (n = read(in, buf, sizeof buf)) != 0;) {
    ok = n > 0;
    for (ssize_t done = 0, w = 0; ok && done < n; done += w) {
      w = write(fd, buf + done, static_cast<std::size_t>(n - done));
      ok = w > 0;
    }
  }
  close(in);
  return ok;
}

// Opens the file the run's lines are gathered in. A plain run empties the
// parameter file first, as every run did before its first day; a run by hand
// (keep: --day, --from, --again) begins with the lines already there, so it
// never takes away a night's lines the next step has not read. nullptr when
// that fails.
std::FILE* ParamOpen(bool keep) {
  ParamKept = keep;
  int fd = -1;
  if (!keep) {
    fd = CreateFile(kParamFile, O_TRUNC);
    if (fd < 0) return nullptr;
    close(fd);
  }
  // A stale one (or a link in its place) is removed, and a new one made that
  // nobody else can have opened.
  if (unlink(kParamTemp) != 0 && errno != ENOENT) return nullptr;
  fd = CreateFile(kParamTemp, O_EXCL);
  if (fd < 0) return nullptr;
  if (keep && !CopyParamFile(fd)) {
    close(fd);
    std::remove(kParamTemp);
    return nullptr;
  }
  std::FILE* f = fdopen(fd, "w");
  if (f == nullptr) close(fd);
  return f;
}

// Puts the gathered lines in place: flushed, synced, renamed over the
// parameter file, and the rename synced with its folder. 0; 1 when the
// lines are in place but the folder could not be synced (a crash may still
// lose them); or -1 with the parameter file left empty.
int ParamFinish(std::FILE* f) {
  bool ok = std::fflush(f) == 0 && std::ferror(f) == 0 && fsync(fileno(f)) == 0;
  int err = errno;
  ok = std::fclose(f) == 0 && ok;
  if (ok && std::rename(kParamTemp, kParamFile) == 0) {
    int dir = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = dir >= 0 && fsync(dir) == 0;
    err = errno;
    if (dir >= 0) close(dir);
    if (synced) return 0;
    Log_Stderr(kPrioError, "pirzol: the folder of %s could not be synced (%s); its nights stay "
                 "incomplete and are listed again\n", kParamFile, std::strerror(err));
    return 1;
  }
  if (err == 0) err = errno;
  std::remove(kParamTemp);
  Log_Stderr(kPrioError, "pirzol: writing the parameter file %s failed (%s); it is left %s\n",
             kParamFile, std::strerror(err), ParamKept ? "as it was" : "empty");
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

// A personnel number as the server compares it: without regard to case
// (Windows-1252 letters too) and to trailing blanks. The record hands its
// persons back in the server's order, so only a comparison of the server's
// kind finds them all.
std::string PnrKey(const char* pnr) {
  std::string key(pnr);
  while (!key.empty() && key.back() == ' ') key.pop_back();
  for (char& c : key) {
    unsigned char u = static_cast<unsigned char>(c);
    if ((u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7)) {
      c = static_cast<char>(u - 0x20);
    }
  }
  return key;
}

// What one night's walk needs besides its date.
struct Night {
  const char* database;
  const char* date;            // YYYYMMDD
  NightPlan* plan;
  const RunOptions* opts;
  std::FILE* param;            // nullptr when the lines go nowhere but the trace
  std::string from;            // the slice of persons walked: from from on, before to;
  std::string to;              // empty for no bound
  std::vector<LatDay> recorded;                     // the record's days of the date
  std::unordered_map<std::string, std::size_t> byPnr;  // PnrKey -> recorded
  std::unordered_set<std::string> listed;           // PnrKey of the persons listed so far
  std::string person;          // not empty: this one person's day alone
  // PnrKey -> the oldest day not done (YYYYMMDD) of each person held back,
  // followed by the number as read: their later days wait. The changes made
  // here (empty: no longer held), for the run.
  std::unordered_map<std::string, std::string>* held = nullptr;
  std::vector<std::pair<std::string, std::string>> heldChanged;
  int complete = 1;
};

bool Recording(const Night& n) { return n.plan->record != 0 && n.plan->runId > 0; }

const LatDay* Recorded(const Night& n, const char* pnr) {
  auto it = n.byPnr.find(PnrKey(pnr));
  return it == n.byPnr.end() ? nullptr : &n.recorded[it->second];
}

void Hold(Night& n, const std::string& key, const std::string& since) {
  if (since.empty()) {
    n.held->erase(key);
  } else {
    (*n.held)[key] = since;
  }
  n.heldChanged.emplace_back(key, since);
}

// 1 when pnr has a day not done before the night's date: this day waits.
int IsHeldBack(const Night& n, const char* pnr) {
  if (n.held == nullptr) return 0;
  auto it = n.held->find(PnrKey(pnr));
  return it != n.held->end() && it->second.compare(0, 8, n.date) < 0 ? 1 : 0;
}

// A day passed over for an earlier one of its person: recorded "held", so
// that it is handled once that one is done, in date order.
void PassOver(Night& n, const TagSatz& tag) {
  ++MldCount.daysHeld;
  Unit_Day(n.date, tag.TagPnr.c_str(), Recording(n) ? n.plan->runId : 0, 0);
  if (Unit_DayHeld() != 0) n.complete = 0;
  Unit_Day(nullptr, nullptr, 0, 0);
}

void WriteLine(Night& n, const TagSatz& tag) {
  char line[100] = {};
  Param_Line(tag, n.database, line, sizeof line);
  Trace(kTrcParam, line);
  if (n.param != nullptr && std::fputs(line, n.param) < 0) n.complete = 0;
  n.listed.insert(PnrKey(tag.TagPnr.c_str()));
}

// The day's row, when its last unit did not write it: a day without a last
// message day, or whose last unit was given up. It waits for the next
// COMMIT; lost, the day is handled again.
void RecordDay(Night& n, int line) {
  if (!Recording(n) || Unit_Lost() != 0 || Unit_DayRowWritten() != 0) return;
  if (Unit_DayRow(line) != 0) n.complete = 0;
}

// One accounted day: the search, the day-message units and the rest of the
// day, its line and its row in the record. 0, 1 when work on it was left
// undone, or PZL_LEASE_LOST when the run must stop before it because another
// run took the database over.
int HandleDay(Night& n, TagSatz& tag, const LatDay* earlier) {
  // Between two days no unit is open: the heartbeat's commit takes nothing
  // half done with it. A dry run holds no lease.
  if (Unit_Beat() != 0) return PZL_LEASE_LOST;
  const MldCounts before = MldCount;
  ++MldCount.daysRead;
  // --again handles a day as a second run would, whatever an earlier one did.
  const int begun = earlier != nullptr && earlier->begun != 0 && n.opts->again == 0 ? 1 : 0;
  Unit_Day(n.date, tag.TagPnr.c_str(), Recording(n) ? n.plan->runId : 0, begun);
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
  // A day an earlier run left open owes its line when that run committed a
  // follow-up: the line is written whatever this run adds.
  int line = begun != 0 && earlier->line != 0 ? 1 : 0;
  if (found != 0 && Unit_Lost() == 0) {
    ++MldCount.daysFound;
    Rpt_Found(last);
    Trace(kTrcGefunden, last.TagPnr.c_str(), last.TagTag.c_str());
    Trace(kTrcBeginn);
    PrintPair(tag, last);
    // The newest booking is read before the day-message units: when it can
    // carry nothing over, the last of them is the day's last change and
    // writes the day's row itself, so the day needs no open row.
    HourMsg newest;
    Mld_HourMsgRead(last, newest);
    const int restDue = Mld_HourMsgDue(newest);
    int prev = Mld_PrevDay(tag, last, restDue, line);
    int hour = 0;
    if (Unit_Lost() == 0 && (restDue != 0 || Unit_DayRowWritten() == 0)) {
      // The rest of the day is a unit of its own and the day's last: it
      // writes the day's row and commits it with its own work, so a
      // rollback never takes one person's work to another.
      Unit rest;
      Unit_Begin(rest, tag, "StdMld", "", kUnitCommitChanges);
      do {
        hour = Mld_HourMsg(tag, newest);
        if (Recording(n)) (void)Unit_DayRow(prev != 0 || hour != 0 || line != 0 ? 1 : 0);
      } while (Unit_Again(rest) != 0);
      if (Unit_Result(rest) != 0) hour = 0;
    }
    Trace(kTrcEnde);
    PrintPair(tag, last);
    if ((prev != 0 || hour != 0) && Unit_Lost() == 0) line = 1;
  }
  if (line != 0 && Unit_Lost() == 0) WriteLine(n, tag);
  RecordDay(n, line);
  const int failed = Unit_DayFailed();
  Unit_Day(nullptr, nullptr, 0, 0);
  Rpt_DayEnd(line, MldCount.retries - before.retries, failed);
  return failed;
}
// Walks the placeholder days of one date. 1 when every driving row was
// walked: the night is complete, failed days or not.
int WalkNight(Night& n) {
  TagSatz tag{};
  int rc = n.person.empty() ? TagAkt_Open(n.date, n.from.c_str(), n.to.c_str())
                            : TagAkt_OpenPerson(n.date, n.person.c_str());
  const bool opened = rc == 0;
  if (!opened) {
    Log_Fail(kTxtCurOpenTag, kValRc, rc);
    Log_Stderr(kPrioError, "pirzol: reading the day records of %s failed (%d): %s\n", n.date, rc,
               Db_ErrText());
    n.complete = 0;
  }

  rc = TagAkt_Read(tag);
  while (rc == 0 || rc == TAG_PNR_TOO_LONG) {
    if (rc == TAG_PNR_TOO_LONG) {
      // The cut number may be somebody else's: booking for it would credit
      // the wrong person, so the day waits for its data to be mended.
      Log_Fail(kTxtPnrLang, kValPnrTag, tag.TagPnr.c_str(), tag.TagTag.c_str());
      Log_Stderr(kPrioError, "pirzol: a personnel number starting %s on %s is longer than 8 "
                 "characters; that day was not handled\n", tag.TagPnr.c_str(),
                 tag.TagTag.c_str());
      n.complete = 0;
    } else if (const LatDay* earlier = Recorded(n, tag.TagPnr.c_str());
               earlier != nullptr && earlier->handled != 0 && n.opts->again == 0) {
      ++MldCount.daysSkipped;  // handled by an earlier run: not a statement spent on it
    } else if (IsHeldBack(n, tag.TagPnr.c_str()) != 0) {
      PassOver(n, tag);
    } else {
      const int day = HandleDay(n, tag, earlier);
      if (day == PZL_LEASE_LOST) {
        n.complete = 0;
        rc = PZL_LEASE_LOST;
        break;
      }
      if (Unit_Lost() != 0) {
        // The session is gone: the days not yet read stay for the next run.
        n.complete = 0;
        break;
      }
      const std::string key = PnrKey(tag.TagPnr.c_str());
      if (day != 0) {
        // Its later days wait for it, in this run and the next ones.
        ++MldCount.daysFailed;
        if (n.held != nullptr && n.held->count(key) == 0) {
          Hold(n, key, std::string(n.date) + tag.TagPnr.c_str());
        }
      } else if (n.held != nullptr && n.held->count(key) != 0) {
        Hold(n, key, "");  // its oldest day not done is done now
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
      Log_Stderr(kPrioError,
                 "pirzol: reading the day records stopped (%d) after %d days; the rest were "
                 "not handled\n",
                 rc, static_cast<int>(MldCount.daysRead));
    }
    n.complete = 0;
  }
  (void)TagAkt_Close();  // answers -1 after a failed open; nothing was held
  return walked ? 1 : 0;
}

// What a worker hands back of its slice: its counts, how its walk ended,
// and whom it listed.
struct SliceEnd {
  MldCounts counts;
  int walked;
  int complete;
  int lost;
  int leaseLost;
  int reportFailed;
};

// The answer: SliceEnd, then "L" and a person listed, or "H", a person and
// the day since which it is held back (empty: no longer), each ended by a
// zero byte.
std::string TellSlice(const Night& n, int walked) {
  SliceEnd end{MldCount, walked, n.complete, Unit_Lost(), Lease_Lost(), Rpt_Failed()};
  std::string answer(reinterpret_cast<const char*>(&end), sizeof end);
  for (const std::string& key : n.listed) answer.append("L" + key).push_back('\0');
  for (const auto& h : n.heldChanged) {
    answer.append("H" + h.first).push_back('\0');
    answer.append(h.second).push_back('\0');
  }
  return answer;
}

// Takes a worker's answer into the night and the run's counts; false when
// the answer is not whole.
bool TakeSlice(Night& n, const std::string& answer, SliceEnd& end) {
  if (answer.size() < sizeof end) return false;
  std::memcpy(&end, answer.data(), sizeof end);
  const MldCounts& c = end.counts;
  MldCount.daysSkipped += c.daysSkipped;
  MldCount.daysRead += c.daysRead;
  MldCount.daysFound += c.daysFound;
  MldCount.generated += c.generated;
  MldCount.cancelled += c.cancelled;
  MldCount.failures += c.failures;
  MldCount.commits += c.commits;
  MldCount.retries += c.retries;
  MldCount.givenUp += c.givenUp;
  MldCount.daysFailed += c.daysFailed;
  MldCount.daysHeld += c.daysHeld;
  std::vector<std::string> items;
  for (std::size_t at = sizeof end; at < answer.size();) {
    std::size_t stop = answer.find('\0', at);
    if (stop == std::string::npos) return false;
    items.push_back(answer.substr(at, stop - at));
    at = stop + 1;
  }
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].empty()) return false;
    if (items[i][0] == 'L') {
      n.listed.insert(items[i].substr(1));
    } else if (items[i][0] == 'H' && i + 1 < items.size()) {
      Hold(n, items[i].substr(1), items[i + 1]);
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

// Walks the night in slices, one worker each; the next night begins only
// when every slice is done. 1 when every worker walked its slice to its end
// and committed its days' rows.
int WalkInWorkers(Night& n) {
  std::vector<std::string> bounds;
  int rc = TagAkt_Bounds(n.date, n.opts->workers, bounds);
  // A night too small to share, or a driving statement that fails (said
  // there), is walked here as one session walks it.
  // A number the session's character set cannot hold comes back as "?",
  // and a bound of it could put a person into two slices.
  for (const std::string& b : bounds) {
    if (b.find('?') != std::string::npos) bounds.clear();
  }
  if (rc != 0 || bounds.empty()) return WalkNight(n);
  // Rows still waiting for a COMMIT (of a night the parent walked itself)
  // are kept now: the workers must neither wait for their locks nor inherit
  // them, and the parent's read view must not stand while the workers write.
  if (Db_TxnWrote() != 0 ? Unit_Commit() != 1 : Db_Rollback() != 1) {
    n.complete = 0;
    return 0;
  }
  const int count = static_cast<int>(bounds.size()) + 1;
  std::vector<WorkerEnd> ends;
  (void)Wrk_Run(count, n.param, [&](int slice, std::FILE* param) {
    // The counts a worker hands back are its own slice's.
    MldCount = MldCounts{};
    n.param = param;
    n.from = slice > 0 ? bounds[static_cast<std::size_t>(slice) - 1] : "";
    n.to = slice + 1 < count ? bounds[static_cast<std::size_t>(slice)] : "";
    int walked = WalkNight(n);
    // The rows of days whose last unit changed nothing wait for a COMMIT:
    // the worker's last one keeps them before the parent may record the
    // night complete.
    if (Unit_Lost() == 0 && Db_TxnWrote() != 0 && Unit_Commit() != 1) walked = 0;
    // A line lost here is lost for good once the night is recorded complete.
    if (param == nullptr || std::fflush(param) != 0 || std::ferror(param) != 0) {
      n.complete = 0;
      walked = 0;
    }
    return TellSlice(n, walked);
  }, ends);
  int walked = 1;
  // What the workers committed may have gone through other nodes than this
  // session's, and the next night reads it.
  if (Db_CatchUp() != 0) {
    Log_Stderr(kPrioError,
               "pirzol: could not catch up with the cluster after the workers (%d): %s\n",
               Db_ErrNo(), Db_ErrText());
    walked = 0;
    n.complete = 0;
  }
  for (const WorkerEnd& e : ends) {
    SliceEnd end{};
    if (e.ended == 0 || !TakeSlice(n, e.answer, end)) {
      walked = 0;
      n.complete = 0;
      continue;
    }
    if (end.leaseLost != 0) Lease_Gone();
    if (end.reportFailed != 0) Rpt_Broken();
    if (end.walked == 0 || end.lost != 0) walked = 0;
    if (end.complete == 0) n.complete = 0;
  }
  return walked;
}

// The days of a night that earlier runs changed and listed, which this run
// did not list: the next step may never have seen the file that listed them.
void ListAgain(Night& n) {
  for (const LatDay& day : n.recorded) {
    if (day.line == 0 || n.listed.count(PnrKey(day.pnr.c_str())) != 0) continue;
    TagSatz tag{};
    tag.TagPnr.assign(day.pnr.c_str());
    tag.TagTag.assign(n.date);
    WriteLine(n, tag);
  }
}

// The persons held back by a day not done, as the record tells in one read:
// each with the oldest such day, and the days to handle again before the
// run's first date. A person whose oldest day lies before the read (only
// days passed over are left in it) is held back beyond it: a person decides.
struct HeldPersons {
  std::unordered_map<std::string, std::string> since;  // as Night::held
  std::vector<std::string> order;                      // PnrKey, in the server's order
  std::unordered_map<std::string, std::vector<UndoneDay>> days;
  std::unordered_set<std::string> beyond;
};

// Reads the days not done of the window of kMaxNights nights up to last,
// or from first on when that is older.
int ReadHeld(const char* first, const char* last, HeldPersons& h) {
  FixText<9> start;
  if (Day_Back(last, kMaxNights - 1, start) != 0) return -1;
  if (std::strcmp(first, start.c_str()) < 0) start.assign(first);
  std::vector<UndoneDay> undone;
  int rc = Lat_Undone(start.c_str(), undone);
  if (rc != 0) return rc;
  FixText<9> before;
  if (Day_Back(start.c_str(), 1, before) != 0) return -1;
  for (UndoneDay& d : undone) {
    const std::string key = PnrKey(d.pnr.c_str());
    auto& list = h.days[key];
    if (list.empty()) {
      h.order.push_back(key);
      if (d.root != 0) {
        h.since[key] = d.date + d.pnr;
      } else {
        h.since[key] = before.c_str() + d.pnr;
        h.beyond.insert(key);
      }
    }
    list.push_back(std::move(d));
  }
  return 0;
}

// Handles each held-back person's days not done before the run's first
// date again, oldest first, as consecutive nights would have; a person
// whose day fails again waits on it. 0, or -1 when the run must stop.
int HandleHeld(HeldPersons& h, Night proto, int& complete) {
  for (const std::string& key : h.order) {
    if (h.beyond.count(key) != 0) continue;
    for (const UndoneDay& d : h.days[key]) {
      if (!proto.plan->dates.empty() && !(d.date < proto.plan->dates.front())) break;
      auto it = h.since.find(key);
      if (it != h.since.end() && it->second.compare(0, 8, d.date) < 0) break;  // failed again
      Night n = proto;
      n.date = d.date.c_str();
      n.person = d.pnr;
      n.recorded.push_back(LatDay{d.pnr, 0, d.root, d.line});
      n.byPnr.emplace(key, 0);
      const MldCounts before = MldCount;
      const int walked = WalkNight(n);
      if (n.complete == 0) complete = 0;
      if (Unit_Lost() != 0 || Lease_Lost() != 0) return -1;
      if (walked == 0) break;
      if (MldCount.daysRead == before.daysRead && MldCount.daysHeld == before.daysHeld) {
        // The placeholder is gone (the day record was changed since): there
        // is nothing left to do on it, and it no longer holds its person.
        Unit_Day(n.date, d.pnr.c_str(), Recording(n) ? n.plan->runId : 0, 0);
        if (Unit_DayRow(0) != 0) complete = 0;
        Unit_Day(nullptr, nullptr, 0, 0);
        if (it != h.since.end() && it->second.compare(0, 8, d.date) == 0) h.since.erase(it);
      }
    }
  }
  return 0;
}

// Says which persons are held back after the run, and what was failed in it.
void TellHeld(const HeldPersons& h) {
  std::string named;
  std::string beyond;
  int count = 0;
  int far = 0;
  for (const std::string& key : h.order) {
    auto it = h.since.find(key);
    if (it == h.since.end()) continue;
    const std::string& v = it->second;
    char shown[64] = {};
    std::snprintf(shown, sizeof shown, "%s since %.4s-%.2s-%.2s", v.c_str() + 8, v.c_str(),
                  v.c_str() + 4, v.c_str() + 6);
    std::string& to = h.beyond.count(key) != 0 ? beyond : named;
    int& n = h.beyond.count(key) != 0 ? far : count;
    if (++n <= 5) to += (n > 1 ? ", " : "") + std::string(shown);
  }
  // Persons first held back in this run are not in the read's order.
  for (const auto& e : h.since) {
    if (h.days.count(e.first) != 0) continue;
    char shown[64] = {};
    std::snprintf(shown, sizeof shown, "%s since %.4s-%.2s-%.2s", e.second.c_str() + 8,
                  e.second.c_str(), e.second.c_str() + 4, e.second.c_str() + 6);
    if (++count <= 5) named += (count > 1 ? ", " : "") + std::string(shown);
  }
  if (MldCount.daysFailed != 0 || count != 0) {
    Log_Stderr(kPrioError,
                 "pirzol: %d days failed in this run; %d persons are held back until their "
                 "oldest day not done is done, their later days waiting (%d passed over): "
                 "%s%s; the next plain run handles them again\n",
                 static_cast<int>(MldCount.daysFailed), count,
                 static_cast<int>(MldCount.daysHeld), named.c_str(), count > 5 ? ", ..." : "");
  }
  if (far != 0) {
    Log_Stderr(kPrioError,
                 "pirzol: %d persons are held back for more than %d nights and wait for a person "
                 "to decide (--from=YYYY-MM-DD from the day not done, once its cause is mended): "
                 "%s%s\n",
                 far, kMaxNights, beyond.c_str(), far > 5 ? ", ..." : "");
  }
}

}  // namespace

int Mld_Run(const char* database, const RunOptions& opts, NightPlan& plan) {
  // Corrections come first: the days they withdraw are handled again by the
  // pass over the days not done below, in date order, before new nights.
  if (Mld_Correct(opts, plan) < 0) return -1;
  HeldPersons held;
  if (plan.record != 0) {
    const char* last = plan.dates.empty() ? plan.newest.c_str() : plan.dates.back().c_str();
    const char* first = plan.dates.empty() ? last : plan.dates.front().c_str();
    int rc = last[0] != '\0' ? ReadHeld(first, last, held) : 0;
    if (rc != 0) {
      Log_Stderr(kPrioError, "pirzol: the record's days not done could not be read (%d): %s; "
                   "nothing was handled\n", rc, Db_ErrText());
      return -1;
    }
  }
  // A plain run first completes what earlier nights left undone, each
  // person in date order; runs of chosen nights keep them waiting.
  const bool pass = opts.day.empty() && opts.from.empty() &&
                    held.order.size() > held.beyond.size();
  if (plan.dates.empty() && !pass) {
    // The parameter file stays as it is: emptying it would hide from the
    // next step the days of a night it may not have read yet.
    Log_Stderr(kPrioNotice,
               "pirzol: no night is due (the newest complete night is %.4s-%.2s-%.2s); "
               "pirzoltgb was left as it is\n",
               plan.newest.c_str(), plan.newest.c_str() + 4, plan.newest.c_str() + 6);
    plan.heldBack = static_cast<int>(held.since.size());
    if (plan.heldBack == 0) return 0;
    TellHeld(held);
    return -1;
  }
  int complete = 1;
  int workers = opts.workers > 1 ? opts.workers : 1;
  if (workers > 1 && DryRun != 0) {
    // A dry run keeps everything in one transaction, and a night's
    // follow-ups are the next night's last messages: other sessions could
    // not see them.
    Log_Stderr(kPrioNotice, "pirzol: a dry run works in one session; --workers=%d is not used\n",
               workers);
    workers = 1;
  }
  if (plan.record != 0 && DryRun == 0) {
    char host[65] = {};
    (void)gethostname(host, sizeof host - 1);
    // Holding the database, this run knows that no run still recorded as
    // running is at work.
    if (Lau_Crashed() != 0 ||
        Lau_Insert(plan.dates.empty() ? "" : plan.dates.front().c_str(),
                   plan.dates.empty() ? "" : plan.dates.back().c_str(), host,
                   opts.work.c_str(), plan.runId) != 0 ||
        Lease_Slots(workers) != 0 || Unit_Commit() != 1) {
      if (Unit_Lost() == 0) {
        Log_Stderr(kPrioError, "pirzol: the run could not be recorded (%d): %s\n", Db_ErrNo(),
                   Db_ErrText());
      }
      plan.runId = 0;
      return -1;
    }
  }
  std::FILE* param = nullptr;
  if (DryRun == 0) {
    param = ParamOpen(!opts.day.empty() || !opts.from.empty() || opts.again != 0);
    if (param == nullptr) {
      Log_FailLine(kTxtFopenTgb);
      Log_Stderr(kPrioError, "pirzol: cannot create the parameter file %s (%s); its lines are "
                 "lost\n", kParamFile, std::strerror(errno));
      complete = 0;
    }
  }
  Night proto;
  proto.database = database;
  proto.plan = &plan;
  proto.opts = &opts;
  proto.param = param;
  proto.held = &held.since;
  if (pass && HandleHeld(held, proto, complete) != 0) complete = 0;
  // The nights walked to their end, oldest first. Each is recorded complete
  // only once its lines are in place: a night whose file was lost is
  // listed again by the next run.
  std::vector<std::string> walkedNights;
  for (const std::string& date : plan.dates) {
    if (Unit_Lost() != 0) break;  // the pass before the nights lost the session
    Night n = proto;
    n.date = date.c_str();
    if (plan.record != 0 && Lat_Days(n.date, n.recorded) != 0) {
      Log_Stderr(kPrioError, "pirzol: the record of %s could not be read (%d); not handled\n",
                 n.date, Db_ErrNo());
      complete = 0;
      break;
    }
    for (std::size_t i = 0; i < n.recorded.size(); ++i) {
      n.byPnr.emplace(PnrKey(n.recorded[i].pnr.c_str()), i);
    }
    int walked = workers > 1 ? WalkInWorkers(n) : WalkNight(n);
    if (walked != 0 && Unit_Lost() == 0) {
      if (Recording(n)) ListAgain(n);
      walkedNights.push_back(date);
    }
    if (n.complete == 0) complete = 0;
    // A follow-up booked on one date is the last message day of the next:
    // a night not walked to its end stops the run.
    if (walked == 0 || Unit_Lost() != 0) {
      complete = 0;
      break;
    }
  }
  const int finished = param != nullptr ? ParamFinish(param) : -1;
  const bool inPlace = finished == 0;
  if (!inPlace && DryRun == 0) complete = 0;
  const auto walked = static_cast<std::int32_t>(walkedNights.size());
  if (DryRun != 0 || plan.record == 0) {
    if (inPlace || DryRun != 0) MldCount.nightsDone = walked;
  } else if (plan.runId > 0 && Unit_Lost() == 0) {
    // One COMMIT keeps the nights and the rows of their days that changed
    // nothing, which have waited for it.
    const bool marked = inPlace && !walkedNights.empty()
                            ? Lau_Night(plan.runId, walkedNights.back().c_str()) == 0
                            : false;
    if (Unit_Commit() == 1 && marked) {
      MldCount.nightsDone = walked;
    } else if (inPlace && !walkedNights.empty()) {
      if (Unit_Lost() == 0) {
        Log_Stderr(kPrioError, "pirzol: the complete nights could not be recorded (%d): %s; the "
                   "next run lists their days again\n", Db_ErrNo(), Db_ErrText());
      }
      complete = 0;
    }
  }
  if (MldCount.givenUp != 0) complete = 0;
  plan.heldBack = static_cast<int>(held.since.size());
  if (MldCount.daysFailed != 0 || plan.heldBack != 0) {
    TellHeld(held);
    complete = 0;
  }
  return complete != 0 ? 0 : -1;
}

int Mld_Finish(int status) {
  if (DryRun != 0) {
    // Nothing a dry run did may stay, whatever it was; a transaction the
    // server rolled back on its way means it could not see what the real
    // run would.
    if (Unit_Lost() != 0) status = kExitIncomplete;
    if (Unit_Lost() == 0 && Db_TxnError() != 0) {
      Log_Stderr(kPrioError,
                 "pirzol: the transaction was rolled back (%d); the dry run met other work "
                 "at the same rows; run it again\n",
                 Db_TxnError());
      status = kExitIncomplete;
    }
    (void)Db_Rollback();
    return status;
  }
  if (Unit_Lost() != 0) {
    // The session may still stand (a refused record row): the lease is
    // given back unless another run has it.
    (void)Db_Rollback();
    if (Lease_Lost() == 0) (void)Lease_Release();
    return kExitIncomplete;
  }
  // Every day ends with its own commit; this one keeps the record's last
  // rows, and it tells whether the session is still sound at the end.
  if (Unit_Commit() != 1) {
    if (Unit_Lost() != 0) return kExitIncomplete;
    Log_FailNotice(kTxtCommit, kValRc, Db_ErrNo());
    Log_Stderr(kPrioError, "pirzol: the final COMMIT failed (%d): %s\n", Db_ErrNo(),
               Db_ErrText());
    status = kExitIncomplete;
  }
  // A lease taken over in the last minute is said: the other run may have
  // handled what this one did.
  if (Lease_Release() != 0) status = kExitIncomplete;
  return status;
}

int Mld_Record(const NightPlan& plan, int status) {
  if (DryRun != 0 || plan.runId <= 0) return status;
  // Whatever stands uncommitted (a run stopped by a lost unit) is not the
  // row's to keep.
  (void)Db_Rollback();
  const bool all = MldCount.nightsDone == static_cast<std::int32_t>(plan.dates.size());
  int rc = Lau_Finish(plan.runId, status == kExitOk && all ? "complete" : "incomplete", MldCount,
                      status);
  if (rc == 0 && Db_Commit() == 1) return status;
  if (rc == 0) rc = Db_TxnError() != 0 ? Db_TxnError() : Db_ErrNo();
  (void)Db_Rollback();
  Log_Stderr(kPrioError, "pirzol: the run's end could not be recorded (%d): %s; the next run "
               "marks it crashed\n", rc, Db_ErrText());
  return kExitIncomplete;
}
