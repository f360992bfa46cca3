// pirzol-review: turns the reports of one or more nights (pirzol --report)
// into one self-contained HTML page for the people who decide whether a
// night may run, and for checking a week of catch-up.
#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "review_json.h"
#include "review_page.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The report layout this program reads (the run object's "format").
constexpr char kFormat[] = "1";
// The page's ceiling: 1.5 times the reports' size plus this much.
constexpr std::size_t kCeilingExtra = 200 * 1024;
// It names persons with their sickness days, like the report it shows.
constexpr mode_t kPageMode = 0640;

constexpr char kUsage[] =
    "usage: pirzol-review [-o PAGE.html] REPORT.jsonl...\n"
    "       pirzol-review --help | --version\n"
    "\n"
    "Makes one self-contained HTML page of the reports that pirzol --report wrote,\n"
    "the nights in the order of their dates. Without -o the page goes to standard\n"
    "output.\n"
    "\n"
    "-o, --output=FILE  write the page to FILE (mode 0640, whole or not at all)\n"
    "--help             show this text; --version the version\n"
    "\n"
    "Exit status: 0 page written, 1 the page could not be written or would\n"
    "exceed its ceiling, 2 usage, a report that cannot be read or of an unknown\n"
    "format.\n";

// One night: the day objects up to its run object, or up to where its file
// was cut off.
struct Night {
  std::string file;
  std::string days;      // compact day arrays, each followed by ','
  std::size_t count = 0;
  std::string run;       // the run object as JSON, or "null" when cut off
  std::string firstDate;
  std::string cut;       // {"line":N,"rest":B}, or "" when whole
};

std::map<std::string, std::size_t> DateIndex;
std::vector<std::string> Dates;

void Text(const JsonValue* v, std::string& out) {
  if (v == nullptr || v->kind == JsonValue::kNull) {
    out += "null";
  } else if (v->kind == JsonValue::kString) {
    Json_WriteString(v->text, out);
  } else {
    std::string raw;
    Json_Write(*v, raw);
    Json_WriteString(raw, out);
  }
}

void Value(const JsonValue* v, std::string& out) {
  if (v == nullptr) {
    out += "null";
  } else {
    Json_Write(*v, out);
  }
}

// A date as its index in the page's table of dates (written once each),
// or -1 for none.
std::string DateRef(const JsonValue* v) {
  if (v == nullptr || v->kind == JsonValue::kNull) return "-1";
  std::string text = v->text;
  if (v->kind != JsonValue::kString) Json_Write(*v, text);
  auto at = DateIndex.find(text);
  if (at == DateIndex.end()) {
    at = DateIndex.emplace(text, Dates.size()).first;
    Dates.push_back(text);
  }
  return std::to_string(at->second);
}

// The members of obj that are not in known, as an object, after a ','; none
// gives nothing, so the array stays short.
void Extra(const JsonValue& obj, const char* const* known, std::string& out) {
  JsonValue extra;
  extra.kind = JsonValue::kObject;
  for (std::size_t i = 0; i < obj.keys.size(); ++i) {
    bool isKnown = false;
    for (const char* const* k = known; *k != nullptr; ++k) isKnown = isKnown || obj.keys[i] == *k;
    if (!isKnown) {
      extra.keys.push_back(obj.keys[i]);
      extra.items.push_back(obj.items[i]);
    }
  }
  if (extra.keys.empty()) return;
  out += ',';
  Json_Write(extra, out);
}

// A follow-up as [code, slot, function, value, cancelled, stopped,
// stopped_by(, other keys)]: the page is about a third of the report.
void FollowUp(const JsonValue& f, std::string& out) {
  static const char* const kKnown[] = {"code",      "slot",    "function",   "value",
                                       "cancelled", "stopped", "stopped_by", nullptr};
  out += '[';
  Text(f.Find("code"), out);
  out += ',';
  Value(f.Find("slot"), out);
  out += ',';
  Value(f.Find("function"), out);
  out += ',';
  Value(f.Find("value"), out);
  out += ',';
  const JsonValue* c = f.Find("cancelled");
  if (c != nullptr && c->kind == JsonValue::kObject) {
    out += '[';
    Text(c->Find("code"), out);
    out += ',';
    Value(c->Find("function"), out);
    out += ',';
    Text(c->Find("time"), out);
    out += ']';
  } else {
    Value(c, out);
  }
  out += ',';
  Text(f.Find("stopped"), out);
  out += ',';
  Text(f.Find("stopped_by"), out);
  Extra(f, kKnown, out);
  out += ']';
}

// A day as [person, date, last message day, line, retries, follow-ups(,
// other keys)]; keys a newer batch adds go along and are shown as they are.
void Day(const JsonValue& d, Night& night) {
  static const char* const kKnown[] = {"person", "date",      "last_message_day", "line",
                                       "retries", "followups", nullptr};
  std::string& out = night.days;
  out += '[';
  Text(d.Find("person"), out);
  out += ',' + DateRef(d.Find("date")) + ',' + DateRef(d.Find("last_message_day")) + ',';
  const JsonValue* line = d.Find("line");
  out += line == nullptr || line->kind != JsonValue::kBool ? "null" : line->truth ? "1" : "0";
  out += ',';
  Value(d.Find("retries"), out);
  out += ",[";
  const JsonValue* fus = d.Find("followups");
  if (fus != nullptr && fus->kind == JsonValue::kArray) {
    for (std::size_t i = 0; i < fus->items.size(); ++i) {
      if (i != 0) out += ',';
      if (fus->items[i].kind == JsonValue::kObject) {
        FollowUp(fus->items[i], out);
      } else {
        out += "[null]";
      }
    }
  }
  out += ']';
  Extra(d, kKnown, out);
  out += "],";
  const JsonValue* date = d.Find("date");
  if (date != nullptr && date->kind == JsonValue::kString &&
      (night.firstDate.empty() || date->text < night.firstDate)) {
    night.firstDate = date->text;
  }
  ++night.count;
}

std::string Base(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Reads one report into nights. 0, or kExitUsage when it cannot be read or
// is of a format this program does not know (said on stderr).
int ReadReport(const std::string& path, std::vector<Night>& nights, std::size_t& bytes) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) {
    std::fprintf(stderr, "pirzol-review: %s cannot be read (%s)\n", path.c_str(),
                 std::strerror(errno));
    return kExitUsage;
  }
  std::string text;
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) text.append(buf, n);
  const bool failed = std::ferror(in) != 0;
  std::fclose(in);
  if (failed) {
    std::fprintf(stderr, "pirzol-review: %s cannot be read\n", path.c_str());
    return kExitUsage;
  }
  bytes += text.size();

  Night night;
  night.file = Base(path);
  bool any = false;  // a night of this file was closed by its run object
  std::size_t lineNo = 0;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    ++lineNo;
    JsonValue v;
    if (line.find_first_not_of(" \t\r") == std::string::npos) {
      at = end == std::string::npos ? text.size() : end + 1;
      continue;
    }
    if (Json_Parse(line, v) != 0 || v.kind != JsonValue::kObject) {
      // A crash stops the report in the middle of a line; what follows
      // cannot be trusted, so the night ends at its last whole object.
      night.cut = "{\"line\":" + std::to_string(lineNo - 1) +
                  ",\"rest\":" + std::to_string(text.size() - at) + "}";
      break;
    }
    at = end == std::string::npos ? text.size() : end + 1;
    const JsonValue* format = v.Find("format");
    if (format == nullptr) {
      Day(v, night);
      continue;
    }
    if (format->kind != JsonValue::kNumber || format->text != kFormat) {
      std::string shown;
      Json_Write(*format, shown);
      std::fprintf(stderr,
                   "pirzol-review: %s: report format %s is unknown; this pirzol-review reads "
                   "format %s\n",
                   path.c_str(), shown.c_str(), kFormat);
      return kExitUsage;
    }
    night.run.clear();
    Json_Write(v, night.run);
    const JsonValue* dates = v.Find("dates");
    if (dates != nullptr && dates->kind == JsonValue::kArray && !dates->items.empty() &&
        dates->items[0].kind == JsonValue::kString) {
      night.firstDate = dates->items[0].text;
    }
    nights.push_back(night);
    night = Night{};
    night.file = Base(path);
    any = true;
  }
  // Days after the last run object, or a report without one: the run did
  // not end it.
  if (night.count > 0 || !night.cut.empty() || !any) {
    if (night.cut.empty()) night.cut = "{\"line\":" + std::to_string(lineNo) + ",\"rest\":0}";
    night.run = "null";
    nights.push_back(night);
  }
  return 0;
}

std::string PageData(std::vector<Night>& nights) {
  std::stable_sort(nights.begin(), nights.end(),
                   [](const Night& a, const Night& b) { return a.firstDate < b.firstDate; });
  std::string data = "{\"version\":";
  Json_WriteString(PIRZOL_VERSION, data);
  data += ",\"dates\":[";
  for (std::size_t i = 0; i < Dates.size(); ++i) {
    if (i != 0) data += ',';
    Json_WriteString(Dates[i], data);
  }
  data += "],\"nights\":[";
  std::size_t first = 0;
  for (std::size_t i = 0; i < nights.size(); ++i) {
    if (i != 0) data += ',';
    data += "{\"file\":";
    Json_WriteString(nights[i].file, data);
    data += ",\"run\":" + nights[i].run + ",\"cut\":" +
            (nights[i].cut.empty() ? std::string("null") : nights[i].cut) +
            ",\"first\":" + std::to_string(first) + ",\"count\":" +
            std::to_string(nights[i].count) + "}";
    first += nights[i].count;
  }
  data += "],\"days\":[";
  for (Night& night : nights) {
    data += night.days;
    night.days.clear();
    night.days.shrink_to_fit();
  }
  if (data.back() == ',') data.pop_back();
  return data + "]}";
}

// Writes the page to path beside a temporary file and renames it over, or
// to standard output for "". 0, or -1 (said on stderr).
int WritePage(const std::string& page, const std::string& path) {
  if (path.empty()) {
    if (std::fwrite(page.data(), 1, page.size(), stdout) != page.size() ||
        std::fflush(stdout) != 0) {
      std::fprintf(stderr, "pirzol-review: writing the page failed (%s)\n", std::strerror(errno));
      return -1;
    }
    return 0;
  }
  // A device or a pipe (/dev/stdout, a FIFO) is written into: renaming a
  // file over it would replace the device itself.
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    std::FILE* out = std::fopen(path.c_str(), "w");
    bool ok = out != nullptr && std::fwrite(page.data(), 1, page.size(), out) == page.size();
    if (out != nullptr && std::fclose(out) != 0) ok = false;
    if (!ok) {
      std::fprintf(stderr, "pirzol-review: writing %s failed (%s)\n", path.c_str(),
                   std::strerror(errno));
      return -1;
    }
    return 0;
  }
  const std::string temp = path + ".tmp";
  if (unlink(temp.c_str()) != 0 && errno != ENOENT) {
    std::fprintf(stderr, "pirzol-review: %s cannot be replaced (%s)\n", temp.c_str(),
                 std::strerror(errno));
    return -1;
  }
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kPageMode);
  bool ok = fd >= 0 && fchmod(fd, kPageMode) == 0;
  for (std::size_t done = 0; ok && done < page.size();) {
    ssize_t n = write(fd, page.data() + done, page.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  if (fd >= 0 && close(fd) != 0) ok = false;
  if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
    std::fprintf(stderr, "pirzol-review: writing %s failed (%s); it is not written\n",
                 path.c_str(), std::strerror(errno));
    if (fd >= 0) std::remove(temp.c_str());
    return -1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  static const option kOptions[] = {{"output", required_argument, nullptr, 'o'},
                                    {"help", no_argument, nullptr, 'h'},
                                    {"version", no_argument, nullptr, 'V'},
                                    {nullptr, 0, nullptr, 0}};
  std::string output;
  int c;
  while ((c = getopt_long(argc, argv, "o:", kOptions, nullptr)) != -1) {
    switch (c) {
      case 'o': output = optarg; break;
      case 'h': std::fputs(kUsage, stdout); return kExitDone;
      case 'V': std::printf("pirzol-review %s\n", PIRZOL_VERSION); return kExitDone;
      default: std::fputs(kUsage, stderr); return kExitUsage;
    }
  }
  if (optind >= argc || (!output.empty() && output[0] == '-')) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  std::vector<Night> nights;
  std::size_t bytes = 0;
  for (int i = optind; i < argc; ++i) {
    int rc = ReadReport(argv[i], nights, bytes);
    if (rc != 0) return rc;
  }
  const std::string page = Page_Build(PageData(nights));
  const std::size_t ceiling = bytes + bytes / 2 + kCeilingExtra;
  if (page.size() > ceiling) {
    std::fprintf(stderr,
                 "pirzol-review: the page would take %zu bytes, over its ceiling of %zu (1.5 "
                 "times the reports' %zu bytes and 200 KB); nothing is written\n",
                 page.size(), ceiling, bytes);
    return kExitFailed;
  }
  return WritePage(page, output) == 0 ? kExitDone : kExitFailed;
}
