#include "app/options.h"

#include <getopt.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "base/log.h"
#include "base/result.h"
#include "followup/workers.h"

const char kOptHelp[] =
    "\n"
    "pirzol CONFIG MODE SWITCH [OPTION...]\n"
    "  CONFIG  the configuration file (at most 99 characters)\n"
    "  MODE    ZELTA writes the consolidated parameter lines, any other word the short ones\n"
    "  SWITCH  D writes the detailed log pirzol.log (only the first character counts)\n"
    "Options may stand anywhere; \"--\" ends them, so a parameter beginning with \"-\" follows it.\n"
    "  --day=YYYY-MM-DD     handle that night alone\n"
    "  --from=YYYY-MM-DD    handle every night from then up to yesterday\n"
    "  --again              handle days the run record shows handled as well\n"
    "  --dry-run            do everything and keep nothing\n"
    "  --correct            take back follow-ups whose messages were corrected, derive again\n"
    "  --report=FILE        write what the run did as JSON Lines\n"
    "  --metrics=FILE       write the run's figures for the Prometheus textfile collector\n"
    "  --workers=N          share each night among N sessions (1 to 16, default 1):\n"
    "                       about the database server's cores, more over a slow network\n"
    "  --defaults-file=FILE read port, socket and TLS settings from the [client] and\n"
    "                       [pirzol] groups of this option file\n"
    "  --quiet              say only warnings and errors on standard error, so a night\n"
    "                       that went well is silent (a cron job mails nothing)\n"
    "  --help               show this text\n"
    "  --version            show the version\n"
    "Exit status:\n"
    "  0  the run completed (or --help, --version)\n"
    "  1  a statement did not fit its buffer; nothing after the last commit was kept\n"
    "  2  the run could not start (parameters, options, configuration, connection, locks,\n"
    "     more than 31 nights due); nothing was changed\n"
    "  3  the run ended incomplete; read standard error and the log, then run again\n";

namespace {

enum : int {
  kOptDay = 256,
  kOptFrom,
  kOptAgain,
  kOptDryRun,
  kOptReport,
  kOptMetrics,
  kOptDefaults,
  kOptWorkers,
  kOptQuiet,
  kOptShowHelp,
  kOptVersion,
  kOptCorrect,
};

const option kLongOptions[] = {
    {"day", required_argument, nullptr, kOptDay},
    {"from", required_argument, nullptr, kOptFrom},
    {"again", no_argument, nullptr, kOptAgain},
    {"dry-run", no_argument, nullptr, kOptDryRun},
    {"report", required_argument, nullptr, kOptReport},
    {"metrics", required_argument, nullptr, kOptMetrics},
    {"defaults-file", required_argument, nullptr, kOptDefaults},
    {"workers", required_argument, nullptr, kOptWorkers},
    {"quiet", no_argument, nullptr, kOptQuiet},
    {"help", no_argument, nullptr, kOptShowHelp},
    {"version", no_argument, nullptr, kOptVersion},
    {"correct", no_argument, nullptr, kOptCorrect},
    {nullptr, 0, nullptr, 0},
};

// "-" first: every other word comes back in its place (as 1), so a word that
// stands where a parameter belongs is told from one after the parameters.
// ":" next: a missing value answers ':' instead of a message of getopt's own.
constexpr char kShortOptions[] = "-:";

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

int Refuse(const char* what, const char* word, const char* value = nullptr) {
  Log_Stderr(kPrioError, "pirzol: %s: %s%s%s; nothing was started\n", what, word,
             value != nullptr ? "=" : "", value != nullptr ? value : "");
  return PZL_BAD_OPTION;
}

// A file name into field, or the refusal. A value beginning with "-" is
// taken for the next option swallowed by one whose value was forgotten
// ("--report --dry-run" must not run a real night into a file "--dry-run").
template <std::size_t N>
int TakeFile(const char* name, const char* value, FixText<N>& field) {
  if (*value == '\0' || *value == '-') return Refuse("not a file name", name, value);
  if (std::strlen(value) >= N) return Refuse("the file name is too long", name, value);
  field.assign(value);
  return 0;
}

// The options that choose the work, spelt one way whatever the command line
// said, for the run record. Cut where it would not fit the record's column;
// they are short.
void AddWork(RunOptions& opts, const char* name, const char* value) {
  std::string text = opts.work.c_str();
  if (!text.empty()) text += ' ';
  text += name;
  if (value != nullptr) text += std::string("=") + value;
  opts.work.assign(text.c_str());
}

int TakeOption(int c, const char* value, CmdLine& cmd) {
  RunOptions& opts = cmd.run;
  switch (c) {
    case kOptDay:
    case kOptFrom: {
      const char* name = c == kOptDay ? "--day" : "--from";
      if (TakeDate(value, c == kOptDay ? opts.day : opts.from) != 0) {
        return Refuse("not a date (YYYY-MM-DD)", name, value);
      }
      AddWork(opts, name, value);
      return 0;
    }
    case kOptAgain:
      opts.again = 1;
      AddWork(opts, "--again", nullptr);
      return 0;
    case kOptDryRun:
      opts.dryRun = 1;
      return 0;
    case kOptCorrect:
      opts.correct = 1;
      AddWork(opts, "--correct", nullptr);
      return 0;
    case kOptReport:
      return TakeFile("--report", value, opts.report);
    case kOptMetrics:
      return TakeFile("--metrics", value, opts.metrics);
    case kOptDefaults:
      return TakeFile("--defaults-file", value, cmd.defaultsFile);
    case kOptWorkers: {
      // Digits only: "--workers=4x" or "--workers=-1" is a slip, not a count.
      bool digits = value[0] != '\0' && std::strlen(value) <= 2;
      for (const char* p = value; digits && *p != '\0'; ++p) digits = *p >= '0' && *p <= '9';
      int n = digits ? Num_Parse(value) : 0;
      if (n < 1 || n > kMaxWorkers) {
        return Refuse("not a number of workers (1 to 16)", "--workers", value);
      }
      opts.workers = n;
      return 0;
    }
    case kOptQuiet:
      cmd.quiet = 1;
      return 0;
    case kOptShowHelp:
      cmd.help = 1;
      return 0;
    case kOptVersion:
      cmd.version = 1;
      return 0;
    default:
      return PZL_BAD_OPTION;  // getopt hands out only the values above
  }
}

}  // namespace

int Opt_Parse(int argc, char** argv, CmdLine& cmd) {
  cmd = CmdLine{};
  int given = 0;
  opterr = 0;
  optind = 0;  // 0, not 1: getopt starts afresh, also on a second command line
  for (;;) {
    int c = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr);
    if (c == -1) break;
    if (c == 1) {
      if (given < 3 && optarg[0] == '-') {
        return Refuse("a parameter is missing; in its place stands", optarg);
      }
      if (given < 3) cmd.param[given] = optarg;
      ++given;
      continue;
    }
    if (c == '?' || c == ':') {
      char shortName[3] = {'-', static_cast<char>(optopt), '\0'};
      const char* word = optopt > 0 && optopt < 256 ? shortName : argv[optind - 1];
      return Refuse(c == '?' ? "unknown option" : "the option needs a value", word);
    }
    int rc = TakeOption(c, optarg, cmd);
    if (rc != 0) return rc;
  }
  // After "--" every word is a parameter, whatever it begins with.
  for (int i = optind; i < argc && given < 3; ++i) cmd.param[given++] = argv[i];
  if (!cmd.run.day.empty() && !cmd.run.from.empty()) {
    return Refuse("--day and --from exclude each other", "choose one");
  }
  return 0;
}
