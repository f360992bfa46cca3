#include "app/options.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "base/result.h"

namespace {

// YYYY-MM-DD of a day the calendar has, into out as YYYYMMDD; 0 or -1.
int TakeDate(const char* text, FixText<9>& out) {
  if (std::strlen(text) != 10 || text[4] != '-' || text[7] != '-') return -1;
  for (int i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (text[i] < '0' || text[i] > '9') return -1;
  }
  int year = Num_Parse(text), month = Num_Parse(text + 5), day = Num_Parse(text + 8);
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1000 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1]) return -1;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month == 2 && day == 29 && !leap) return -1;
  char digits[9] = {};
  std::snprintf(digits, sizeof digits, "%.4s%.2s%.2s", text, text + 5, text + 8);
  out.assign(digits);
  return 0;
}

// The value of "--name=value" when word is that option, else nullptr.
const char* ValueOf(const char* word, const char* name) {
  std::size_t n = std::strlen(name);
  return std::strncmp(word, name, n) == 0 && word[n] == '=' ? word + n + 1 : nullptr;
}

int Refuse(const char* what, const char* word) {
  std::fprintf(stderr, "pirzol: %s: %s; nothing was started\n", what, word);
  return PZL_BAD_OPTION;
}

void AddWork(RunOptions& opts, const char* word) {
  // Cut where it would not fit the record's column; the options that choose
  // the work are short.
  std::string text = opts.work.c_str();
  if (!text.empty()) text += ' ';
  text += word;
  opts.work.assign(text.c_str());
}

}  // namespace

int Opt_Parse(int argc, char** argv, RunOptions& opts) {
  opts = RunOptions{};
  for (int i = 4; i < argc; ++i) {
    const char* word = argv[i];
    if (std::strncmp(word, "--", 2) != 0) continue;
    const char* value = nullptr;
    if ((value = ValueOf(word, "--day")) != nullptr) {
      if (TakeDate(value, opts.day) != 0) return Refuse("not a date (YYYY-MM-DD)", word);
      AddWork(opts, word);
    } else if ((value = ValueOf(word, "--from")) != nullptr) {
      if (TakeDate(value, opts.from) != 0) return Refuse("not a date (YYYY-MM-DD)", word);
      AddWork(opts, word);
    } else if (std::strcmp(word, "--again") == 0) {
      opts.again = 1;
      AddWork(opts, word);
    } else if (std::strcmp(word, "--dry-run") == 0) {
      opts.dryRun = 1;
    } else if ((value = ValueOf(word, "--report")) != nullptr && *value != '\0' &&
               std::strlen(value) < opts.report.capacity()) {
      opts.report.assign(value);
    } else if ((value = ValueOf(word, "--metrics")) != nullptr && *value != '\0' &&
               std::strlen(value) < opts.metrics.capacity()) {
      opts.metrics.assign(value);
    } else {
      return Refuse("unknown option", word);
    }
  }
  if (!opts.day.empty() && !opts.from.empty()) {
    return Refuse("--day and --from exclude each other", "choose one");
  }
  return 0;
}
