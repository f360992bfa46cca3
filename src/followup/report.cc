#include "followup/report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/log.h"

namespace {

// It names persons with their sickness days, like the parameter file.
constexpr mode_t kReportMode = 0640;

struct FollowUp {
  std::string code;
  std::int32_t slot = 0;
  std::int32_t function = 0;
  bool credited = false;
  std::int32_t value = 0;
  std::string cancelled;  // the cancelled booking, as a JSON object; empty for none
  std::string stopped;    // what stopped it; empty when it was booked
  std::string stoppedBy;  // the code of the booking that stopped it, if any
};

std::FILE* Report = nullptr;
std::string Path;
std::string Temp;
std::string Day;  // the day's object up to its follow-ups
std::vector<FollowUp> Weighed;
bool Broken = false;

// A JSON string of latin1 bytes (the records' text) as UTF-8.
std::string Json(const char* text) {
  std::string out = "\"";
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    if (*p == '"' || *p == '\\') {
      out += '\\';
      out += static_cast<char>(*p);
    } else if (*p < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", *p);
      out += esc;
    } else if (*p >= 0x80) {
      out += static_cast<char>(0xC0 | (*p >> 6));
      out += static_cast<char>(0x80 | (*p & 0x3F));
    } else {
      out += static_cast<char>(*p);
    }
  }
  return out + "\"";
}

// YYYYMMDD as a JSON "YYYY-MM-DD".
std::string JsonDate(const char* day) {
  if (std::strlen(day) != 8) return Json(day);
  char text[16];
  std::snprintf(text, sizeof text, "%.4s-%.2s-%.2s", day, day + 4, day + 6);
  return Json(text);
}

std::string Line(const FollowUp& f) {
  std::string s = "{\"code\":" + Json(f.code.c_str()) + ",\"slot\":" + std::to_string(f.slot) +
                  ",\"function\":" + std::to_string(f.function) + ",\"value\":" +
                  (f.credited ? std::to_string(f.value) : "null");
  s += ",\"cancelled\":" + (f.cancelled.empty() ? std::string("null") : f.cancelled);
  s += ",\"stopped\":" + (f.stopped.empty() ? std::string("null") : Json(f.stopped.c_str()));
  if (!f.stoppedBy.empty()) s += ",\"stopped_by\":" + Json(f.stoppedBy.c_str());
  return s + "}";
}

int Fail(const char* what) {
  Log_Stderr(kPrioError, "pirzol: %s the report %s failed (%s); it is not written\n", what,
             Path.c_str(), std::strerror(errno));
  if (Report != nullptr) std::fclose(Report);
  Report = nullptr;
  std::remove(Temp.c_str());
  return -1;
}

}  // namespace

int Rpt_Open(const char* path) {
  Path = path;
  Temp = Path + ".tmp";
  // A stale temporary file, or a link planted in its place, is removed;
  // the new one is made where nobody else can have opened it.
  if (unlink(Temp.c_str()) != 0 && errno != ENOENT) return Fail("creating");
  int fd = open(Temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kReportMode);
  if (fd < 0 || fchmod(fd, kReportMode) != 0 || (Report = fdopen(fd, "w")) == nullptr) {
    if (fd >= 0) close(fd);
    return Fail("creating");
  }
  return 0;
}

void Rpt_Day(const TagSatz& tag) {
  if (Report == nullptr) return;
  Weighed.clear();
  Day = "{\"person\":" + Json(tag.TagPnr.c_str()) + ",\"date\":" + JsonDate(tag.TagTag.c_str()) +
        ",\"last_message_day\":null";
}

void Rpt_Found(const TagSatz& last) {
  if (Report == nullptr) return;
  const std::string none = ",\"last_message_day\":null";
  std::size_t at = Day.find(none);
  if (at != std::string::npos) {
    Day.replace(at, none.size(), ",\"last_message_day\":" + JsonDate(last.TagTag.c_str()));
  }
}

void Rpt_Weigh(const FcdSatz& fcd) {
  if (Report == nullptr) return;
  FollowUp f;
  f.code = fcd.FcdNum.c_str();
  f.slot = fcd.FcdTyp;
  f.function = fcd.FcdTyp;
  Weighed.push_back(f);
}

void Rpt_Cancelled(const BchSatz& booking) {
  if (Report == nullptr || Weighed.empty()) return;
  Weighed.back().cancelled = "{\"code\":" + Json(booking.BchFcd.c_str()) + ",\"function\":" +
                             std::to_string(booking.BchFkt) + ",\"time\":" +
                             Json(booking.BchUhr.c_str()) + "}";
}

void Rpt_Stopped(const char* reason, const char* code) {
  if (Report == nullptr || Weighed.empty()) return;
  Weighed.back().stopped = reason;
  Weighed.back().stoppedBy = code != nullptr ? code : "";
}

void Rpt_Credited(std::int32_t slot, std::int32_t value) {
  if (Report == nullptr || Weighed.empty()) return;
  Weighed.back().credited = true;
  Weighed.back().slot = slot;
  Weighed.back().value = value;
}

std::size_t Rpt_Mark() { return Weighed.size(); }

void Rpt_Drop(std::size_t mark) {
  if (mark < Weighed.size()) Weighed.resize(mark);
}

void Rpt_GiveUp(std::size_t mark) {
  for (std::size_t i = mark; i < Weighed.size(); ++i) {
    // Nothing of the unit was kept, whatever its last try had reached.
    Weighed[i].credited = false;
    Weighed[i].cancelled.clear();
    Weighed[i].stopped = "failed after its retries";
    Weighed[i].stoppedBy.clear();
  }
}

void Rpt_DayEnd(int line, int retries, int failed) {
  if (Report == nullptr) return;
  std::string text = Day + ",\"followups\":[";
  for (std::size_t i = 0; i < Weighed.size(); ++i) text += (i == 0 ? "" : ",") + Line(Weighed[i]);
  text += "],\"line\":" + std::string(line != 0 ? "true" : "false") +
          ",\"retries\":" + std::to_string(retries) + (failed != 0 ? ",\"failed\":true" : "") +
          "}\n";
  std::fputs(text.c_str(), Report);
  Weighed.clear();
}

void Rpt_Correction(const char* what, const char* pnr, const char* day, const char* code,
                    const char* reason) {
  if (Report == nullptr) return;
  std::string text = "{\"correction\":" + Json(what) + ",\"person\":" + Json(pnr) +
                     ",\"date\":" + JsonDate(day) + ",\"code\":" +
                     (code[0] != '\0' ? Json(code) : std::string("null")) + ",\"reason\":" +
                     Json(reason) + "}\n";
  std::fputs(text.c_str(), Report);
}

std::FILE* Rpt_Stream() { return Report; }

void Rpt_Broken() { Broken = true; }

int Rpt_Failed() {
  return Report != nullptr && (std::fflush(Report) != 0 || std::ferror(Report) != 0) ? 1 : 0;
}

void Rpt_Divert(std::FILE* to) {
  if (Report != nullptr) Report = to;
}

int Rpt_Close(std::int64_t runId, const std::vector<std::string>& dates, const char* options,
              const MldCounts& c, int exitStatus, int dryRun, int heldBack) {
  if (Report == nullptr) return 0;
  std::string text = "{\"format\":" + std::to_string(kReportFormat) + ",\"run\":" +
                     (runId > 0 ? std::to_string(runId) : std::string("null")) +
                     ",\"dates\":[";
  for (std::size_t i = 0; i < dates.size(); ++i) {
    text += (i == 0 ? "" : ",") + JsonDate(dates[i].c_str());
  }
  // Commits are left out: a dry run makes none, and its report must equal
  // the real run's.
  text += "],\"options\":" + Json(options) + ",\"counts\":{\"days_read\":" +
          std::to_string(c.daysRead) + ",\"days_found\":" + std::to_string(c.daysFound) +
          ",\"generated\":" + std::to_string(c.generated) + ",\"cancelled\":" +
          std::to_string(c.cancelled) + ",\"failures\":" + std::to_string(c.failures) +
          ",\"retries\":" + std::to_string(c.retries) + ",\"given_up\":" +
          std::to_string(c.givenUp) + ",\"days_failed\":" + std::to_string(c.daysFailed) +
          ",\"days_held\":" + std::to_string(c.daysHeld) + "},\"held_back\":" +
          std::to_string(heldBack) + ",\"exit\":" + std::to_string(exitStatus) +
          ",\"dry_run\":" + (dryRun != 0 ? "true" : "false") + "}\n";
  std::fputs(text.c_str(), Report);
  if (Broken) errno = EIO;
  if (Broken || std::fflush(Report) != 0 || std::ferror(Report) != 0 ||
      fsync(fileno(Report)) != 0) {
    return Fail("writing");
  }
  int rc = std::fclose(Report);
  Report = nullptr;
  if (rc != 0 || std::rename(Temp.c_str(), Path.c_str()) != 0) return Fail("writing");
  // The rename is kept only once its folder is synced.
  std::string folder = Path.find('/') == std::string::npos ? "." : Path.substr(0, Path.rfind('/'));
  if (folder.empty()) folder = "/";
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    (void)fsync(dir);  // a folder that cannot be synced keeps the rename all the same
    close(dir);
  }
  return 0;
}
