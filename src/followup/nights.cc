#include "followup/nights.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "db/lau.h"
#include "base/log.h"
#include "base/result.h"

namespace {

// YYYYMMDD as a count of days; -1 when it is no date.
long DayNumber(const char* day) {
  if (std::strlen(day) != 8) return -1;
  std::tm tm{};
  tm.tm_year = Num_Parse(std::string(day, 4).c_str()) - 1900;
  tm.tm_mon = Num_Parse(std::string(day + 4, 2).c_str()) - 1;
  tm.tm_mday = Num_Parse(day + 6);
  // Counted in UTC, so no clock change can make a day 23 or 25 hours long.
  std::time_t t = timegm(&tm);
  return t == static_cast<std::time_t>(-1) ? -1 : static_cast<long>(t / 86400);
}

void Dashed(const char* day, char* out, std::size_t size) {
  std::snprintf(out, size, "%.4s-%.2s-%.2s", day, day + 4, day + 6);
}

}  // namespace

int Day_Next(const char* day, FixText<9>& next) { return Day_Back(day, -1, next); }

int Day_Back(const char* day, int count, FixText<9>& back) {
  long n = DayNumber(day);
  if (n < 0) return -1;
  std::time_t t = static_cast<std::time_t>(n - count) * 86400;
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[16] = {};
  std::strftime(text, sizeof text, "%Y%m%d", &tm);
  back.assign(text);
  return 0;
}

int Mld_Plan(const RunOptions& opts, const char* yesterday, NightPlan& plan) {
  plan = NightPlan{};
  int rc = Lau_Present();
  if (rc < 0 || rc > 1) return rc;
  plan.record = rc;
  FixText<9> oldest;
  if (plan.record != 0) {
    rc = Lau_Nights(plan.newest, oldest);
    if (rc != 0) return rc;
  } else {
    Log_Stderr(kPrioWarning,
               "pirzol: warning: the database has no run record (sql/runs.sql); missed "
               "nights cannot be caught up and reruns are not guarded\n");
  }

  FixText<9> first;
  FixText<9> last;
  last.assign(yesterday);
  if (!opts.day.empty()) {
    first = opts.day;
    last = opts.day;
  } else if (!opts.from.empty()) {
    first = opts.from;
  } else if (!plan.newest.empty()) {
    if (Day_Next(plan.newest.c_str(), first) != 0) return PZL_FUTURE_DATE;
  } else if (!oldest.empty()) {
    first = oldest;
  } else {
    first.assign(yesterday);
  }

  char shown[16];
  const long y = DayNumber(yesterday);
  if ((!opts.day.empty() || !opts.from.empty()) && DayNumber(first.c_str()) > y) {
    Dashed(first.c_str(), shown, sizeof shown);
    Log_Stderr(kPrioError,
               "pirzol: the night of %s has not ended on the server's clock; nothing was "
               "changed\n",
               shown);
    return PZL_FUTURE_DATE;
  }
  const long count = DayNumber(last.c_str()) - DayNumber(first.c_str()) + 1;
  if (count > kMaxNights) {
    Dashed(first.c_str(), shown, sizeof shown);
    Log_Stderr(kPrioError,
               "pirzol: %ld nights are due, from %s on; more than %d wait for a person to "
               "decide (--from=YYYY-MM-DD or --day=YYYY-MM-DD); nothing was changed\n",
               count, shown, kMaxNights);
    return PZL_TOO_MANY_NIGHTS;
  }
  for (FixText<9> d = first; count > 0 && DayNumber(d.c_str()) <= DayNumber(last.c_str());) {
    plan.dates.emplace_back(d.c_str());
    if (Day_Next(d.c_str(), d) != 0) break;
  }
  return 0;
}
