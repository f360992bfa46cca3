// pirzol-ini: writes and checks the configuration file the batch reads its
// connection values from, and encrypts single values for it.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/ini.h"
#include "config/pwd.h"

namespace {

constexpr int kExitClean = 0;
constexpr int kExitWarned = 1;
constexpr int kExitUsage = 2;

constexpr char kValueKey[] = "KORVANE";
// The reader keeps 200 characters of cipher text, that is 12 whole blocks.
constexpr std::size_t kMaxPlain = 96;
constexpr std::size_t kCipherSize = 2 * kMaxPlain + 1;
constexpr std::size_t kInputSize = 256;

constexpr char kUsage[] =
    "usage: pirzol-ini encrypt\n"
    "       pirzol-ini write FILE\n"
    "       pirzol-ini check FILE\n"
    "       pirzol-ini --help | --version\n"
    "\n"
    "encrypt  reads one value from standard input (not echoed on a terminal) and\n"
    "         prints its cipher text as the configuration file stores it.\n"
    "write    writes FILE with the entries LOGIN, PASS, NET8 and SCHEMA, taking the\n"
    "         values from PIRZOL_LOGIN, PIRZOL_PASS, PIRZOL_HOST and PIRZOL_DATABASE\n"
    "         and asking on the terminal for any that is not set. FILE is replaced\n"
    "         as a whole and is readable by its owner only.\n"
    "check    shows which entry the batch takes for each key and what it decrypts\n"
    "         to, and warns about entries the batch would read wrongly.\n"
    "\n"
    "--help   shows this text; --version the version.\n"
    "\n"
    "Exit status: 0 done (check: clean), 1 check warned, 2 usage or file error.\n";

// One connection value the batch reads. Capacity counts no terminator; the
// database name is stored with one extra character that the batch drops.
struct Item {
  const char* key;
  const char* env;
  const char* prompt;
  std::size_t max;
  int secret;
  int mayBeEmpty;
};
constexpr Item kItems[] = {
    {"LOGIN", "PIRZOL_LOGIN", "Database user: ", 50, 0, 0},
    {"PASS", "PIRZOL_PASS", "Password: ", 50, 1, 1},
    {"NET8", "PIRZOL_HOST", "Database host: ", 50, 0, 0},
    {"SCHEMA", "PIRZOL_DATABASE", "Database name: ", 20, 0, 0},
};
constexpr char kSchemaTail = '.';

int warnings = 0;

[[gnu::format(printf, 1, 2)]] void Warn(const char* fmt, ...) {
  std::fputs("warning: ", stderr);
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
  std::fputc('\n', stderr);
  ++warnings;
}

void Wipe(void* buf, std::size_t n) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(buf);
  for (std::size_t i = 0; i < n; ++i) p[i] = 0;
}

// Echo is restored from a signal too, so an interrupted password prompt does
// not leave the operator's terminal silent.
termios savedTerm;
volatile sig_atomic_t echoOff = 0;

void RestoreEcho() {
  if (echoOff != 0) (void)tcsetattr(STDIN_FILENO, TCSANOW, &savedTerm);
  echoOff = 0;
}

void OnSignal(int sig) {
  RestoreEcho();
  signal(sig, SIG_DFL);
  raise(sig);
}

// Reads one line of standard input into buf, without its line end. On a
// terminal the prompt goes to stderr and a secret is not echoed. Returns 0,
// -1 when the input ended before anything was read, -2 when the line does
// not fit buf.
int ReadLine(const char* prompt, int secret, char* buf, std::size_t cap) {
  int tty = isatty(STDIN_FILENO);
  if (tty != 0) {
    std::fputs(prompt, stderr);
    if (secret != 0 && tcgetattr(STDIN_FILENO, &savedTerm) == 0) {
      termios quiet = savedTerm;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      signal(SIGINT, OnSignal);
      signal(SIGTERM, OnSignal);
      echoOff = 1;
      (void)tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
  }
  char* got = std::fgets(buf, static_cast<int>(cap), stdin);
  if (echoOff != 0) {
    RestoreEcho();
    std::fputc('\n', stderr);
  }
  if (got == nullptr) {
    buf[0] = '\0';
    return -1;
  }
  std::size_t n = std::strlen(buf);
  if (n > 0 && buf[n - 1] == '\n') {
    buf[--n] = '\0';
  } else if (!std::feof(stdin)) {
    for (int c = std::getchar(); c != '\n' && c != EOF; c = std::getchar()) {
    }
    Wipe(buf, cap);
    return -2;
  }
  if (n > 0 && buf[n - 1] == '\r') buf[--n] = '\0';
  return 0;
}

int HasControl(const char* text) {
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    if (*p < 0x20 || *p == 0x7F) return 1;
  }
  return 0;
}

int Encrypt() {
  char plain[kInputSize];
  int rc = ReadLine("Value to encrypt: ", 1, plain, sizeof plain);
  if (rc == -2 || (rc == 0 && std::strlen(plain) > kMaxPlain)) {
    std::fprintf(stderr, "pirzol-ini: a value may have at most %zu characters\n", kMaxPlain);
    Wipe(plain, sizeof plain);
    return kExitUsage;
  }
  char cipher[kCipherSize];
  int fits = Pwd_Encrypt(plain, cipher, sizeof cipher, kValueKey);
  Wipe(plain, sizeof plain);
  if (fits != 0) return kExitUsage;  // cannot happen: the length was checked
  std::printf("%s\n", cipher);
  return kExitClean;
}

// Writes content to path as a new file of mode 0600 that replaces path in one
// step, so the batch never meets a half-written file. Returns 0 or -1.
int WriteReplacing(const std::string& path, const std::string& content) {
  std::string::size_type slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
  std::string name = (slash == std::string::npos ? std::string() : dir) + ".pirzol-ini.XXXXXX";
  std::vector<char> tmp(name.begin(), name.end());
  tmp.push_back('\0');
  int fd = mkstemp(tmp.data());
  if (fd < 0) {
    std::fprintf(stderr, "pirzol-ini: cannot create a file in %s: %s\n", dir.c_str(),
                 std::strerror(errno));
    return -1;
  }
  const char* step = "write";
  int ok = fchmod(fd, S_IRUSR | S_IWUSR) == 0;
  for (std::size_t done = 0; ok && done < content.size();) {
    ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  if (ok && fsync(fd) != 0) {
    ok = 0;
    step = "flush";
  }
  if (close(fd) != 0 && ok) ok = 0;
  if (ok && rename(tmp.data(), path.c_str()) != 0) {
    ok = 0;
    step = "replace";
  }
  if (!ok) {
    std::fprintf(stderr, "pirzol-ini: cannot %s %s: %s\n", step, path.c_str(), std::strerror(errno));
    (void)unlink(tmp.data());
    return -1;
  }
  // The rename is only durable once the folder itself is on disk.
  int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (dirFd >= 0) {
    (void)fsync(dirFd);
    (void)close(dirFd);
  }
  return 0;
}

// Takes one value from its environment variable or, failing that, from the
// terminal, and refuses what the batch could not hold. Returns 0 or kExitUsage.
int GetValue(const Item& item, char* buf, std::size_t cap) {
  int rc = 0;
  const char* env = std::getenv(item.env);
  if (env != nullptr) {
    std::size_t n = std::strlen(env);
    if (n >= cap) {
      rc = -2;
    } else {
      std::memcpy(buf, env, n + 1);
    }
  } else if (isatty(STDIN_FILENO) == 0) {
    std::fprintf(stderr, "pirzol-ini: %s is not set and there is no terminal to ask on\n",
                 item.env);
    return kExitUsage;
  } else {
    rc = ReadLine(item.prompt, item.secret, buf, cap);
  }
  if (rc == -1) {
    std::fprintf(stderr, "pirzol-ini: no value given for %s\n", item.key);
  } else if (rc == -2 || std::strlen(buf) > item.max) {
    std::fprintf(stderr, "pirzol-ini: the %s value is too long; the batch holds at most %zu "
                 "characters\n", item.key, item.max);
  } else if (item.mayBeEmpty == 0 && buf[0] == '\0') {
    std::fprintf(stderr, "pirzol-ini: the %s value is empty\n", item.key);
  } else if (HasControl(buf) != 0) {
    std::fprintf(stderr, "pirzol-ini: the %s value holds control characters\n", item.key);
  } else {
    return 0;
  }
  return kExitUsage;
}

int Write(const char* path) {
  char values[4][kInputSize] = {};
  int rc = 0;
  for (int i = 0; i < 4 && rc == 0; ++i) rc = GetValue(kItems[i], values[i], sizeof values[i]);
  std::string content;
  if (rc == 0) {
    // Room is left: the name has at most 20 characters after GetValue.
    std::size_t n = std::strlen(values[3]);
    values[3][n] = kSchemaTail;
    values[3][n + 1] = '\0';
    for (int i = 0; i < 4 && rc == 0; ++i) {
      char cipher[kCipherSize];
      if (Pwd_Encrypt(values[i], cipher, sizeof cipher, kValueKey) != 0) rc = kExitUsage;
      // Each entry has a section name and a number of its own, so the batch,
      // which asks with an empty section and number 0, matches it by key only.
      content += "[;" + std::string(kItems[i].key) + ";]\n" + std::to_string(i + 1) + ";" +
                 kItems[i].key + ";" + cipher + "\n";
    }
  }
  Wipe(values, sizeof values);
  if (rc == 0 && WriteReplacing(path, content) != 0) rc = kExitUsage;
  if (!content.empty()) Wipe(&content[0], content.size());
  if (rc == 0) std::fprintf(stderr, "pirzol-ini: wrote %s\n", path);
  return rc;
}

// The value in printable form: other bytes as \xNN escapes.
std::string Printable(const char* text) {
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    if (*p < 0x20 || *p >= 0x7F || *p == '\\' || *p == '"') {
      char esc[5];
      std::snprintf(esc, sizeof esc, "\\x%02X", *p);
      out += esc;
    } else {
      out += static_cast<char>(*p);
    }
  }
  return out;
}

void CheckCipher(const Item& item, const IniEntry& entry) {
  const char* value = entry.value;
  if (std::strcmp(value, "\n") == 0) return;  // an empty field: an empty value
  std::size_t n = std::strlen(value);
  if (n % 16 != 0) {
    Warn("%s (lines %d-%d): the value has %zu characters, not a multiple of 16; the last %zu "
         "are ignored",
         item.key, entry.firstLine, entry.secondLine, n, n % 16);
  }
  int lower = 0;
  int other = 0;
  for (std::size_t i = 0; i < n; ++i) {
    char c = value[i];
    if (c >= 'a' && c <= 'f') {
      lower = 1;
    } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
      other = 1;
    }
  }
  if (lower != 0) {
    Warn("%s (lines %d-%d): the value has lower-case hex digits, which the batch does not read "
         "as hex; write them in upper case",
         item.key, entry.firstLine, entry.secondLine);
  }
  if (other != 0) {
    Warn("%s (lines %d-%d): the value has characters that are not hex digits", item.key,
         entry.firstLine, entry.secondLine);
  }
}

void CheckPlain(const Item& item, const IniEntry& entry) {
  std::size_t n = std::strlen(IniValue);
  int schema = std::strcmp(item.key, "SCHEMA") == 0;
  std::string shown = item.secret != 0 ? std::string(n, '*') : Printable(IniValue);
  std::printf("%-6s lines %d-%d: \"%s\"", item.key, entry.firstLine, entry.secondLine,
              shown.c_str());
  if (schema && n > 0) {
    std::string name(IniValue, n - 1);
    for (char& c : name) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    std::printf(", database %s", Printable(name.c_str()).c_str());
  }
  std::printf("\n");
  if (n == 0 && item.mayBeEmpty == 0) Warn("%s: the value is empty", item.key);
  std::size_t room = item.max + (schema ? 1 : 0);
  if (n > room) {
    Warn("%s: the value has %zu characters; the batch keeps %zu", item.key, n, room);
  }
  if (HasControl(IniValue) != 0) {
    Warn("%s: the value decrypts to control characters: a wrong key or damaged cipher text?",
         item.key);
  }
}

int Check(const char* path) {
  IniFile ini{};
  struct stat st;
  if (stat(path, &st) != 0 || Ini_Open(ini, path) != 0) {
    std::fprintf(stderr, "pirzol-ini: cannot read %s: %s\n", path, std::strerror(errno));
    return kExitUsage;
  }
  if (!S_ISREG(st.st_mode)) {
    std::fprintf(stderr, "pirzol-ini: %s is not a regular file\n", path);
    Ini_Close(ini);
    return kExitUsage;
  }
  // Read by the batch's own group is how a service reads its secrets
  // (root:pirzol 0640); anything more is not.
  if ((st.st_mode & (S_IWGRP | S_IROTH | S_IWOTH)) != 0) {
    Warn("%s is readable or writable by others, or writable by its group, and it holds the "
         "database password (chmod 600, or 640 for the batch's own group)",
         path);
  }
  IniEntry taken[4];
  int found[4] = {};
  IniEntry entry;
  while (Ini_Next(ini, entry) == 1) {
    if (entry.cutLine != 0) {
      Warn("line %d is longer than the batch reads at once; its rest is read as a line of its "
           "own and every later line pairs up wrongly",
           entry.cutLine);
    }
    if (entry.hasFields == 0) {
      Warn("line %d has no \";\", so lines %d-%d are no entry", entry.secondLine,
           entry.firstLine, entry.secondLine);
      continue;
    }
    if (entry.number == 0 || entry.section[0] == '\0') {
      Warn("lines %d-%d: the %s, so the batch takes this entry for every key not found before it",
           entry.firstLine, entry.secondLine,
           entry.number == 0 ? "number reads 0" : "section name is empty");
    }
    for (int i = 0; i < 4; ++i) {
      if (found[i] == 0 && Ini_Match(entry, "", kItems[i].key, 0) != 0) {
        taken[i] = entry;
        found[i] = 1;
      }
    }
  }
  Ini_Close(ini);

  for (int i = 0; i < 4; ++i) {
    const Item& item = kItems[i];
    if (found[i] == 0) {
      Warn("%s: no entry; the batch gets an empty value", item.key);
      continue;
    }
    if (std::strcmp(taken[i].key, item.key) != 0) {
      Warn("%s is taken from lines %d-%d, whose key is \"%s\"", item.key, taken[i].firstLine,
           taken[i].secondLine, Printable(taken[i].key).c_str());
    }
    CheckCipher(item, taken[i]);
    Ini_Read("", item.key, 0, path);
    CheckPlain(item, taken[i]);
    Wipe(IniValue, sizeof IniValue);
  }
  return warnings == 0 ? kExitClean : kExitWarned;
}

}  // namespace

int main(int argc, char** argv) {
  const char* cmd = argc > 1 ? argv[1] : "";
  if (std::strcmp(cmd, "--help") == 0 || std::strcmp(cmd, "-h") == 0) {
    std::fputs(kUsage, stdout);
    return kExitClean;
  }
  if (std::strcmp(cmd, "--version") == 0 && argc == 2) {
    std::fputs("pirzol-ini " PIRZOL_VERSION "\n", stdout);
    return kExitClean;
  }
  if (std::strcmp(cmd, "encrypt") == 0 && argc == 2) return Encrypt();
  if (std::strcmp(cmd, "write") == 0 && argc == 3) return Write(argv[2]);
  if (std::strcmp(cmd, "check") == 0 && argc == 3) return Check(argv[2]);
  std::fputs(kUsage, stderr);
  return kExitUsage;
}
