#include "config/ini.h"

#include <cstring>
#include <vector>

#include "config/pwd.h"
#include "base/fixtext.h"

std::int32_t IniNumber = 0;
char IniSection[kIniFieldSize] = {};
char IniKey[kIniFieldSize] = {};
char IniValue[kIniFieldSize] = {};

namespace {

// The files were written for a reader with these line limits, terminator
// included; a longer line is taken in pieces and the pairing shifts.
constexpr int kFirstLineSize = 200;
constexpr int kSecondLineSize = 400;
constexpr std::size_t kNumberSize = 12;
constexpr char kValueKey[] = "KORVANE";

void ClearResult() {
  IniNumber = 0;
  std::memset(IniSection, 0, sizeof IniSection);
  std::memset(IniKey, 0, sizeof IniKey);
  std::memset(IniValue, 0, sizeof IniValue);
}

// Reads one piece of a line the way a text-mode line read with this limit
// does: at most limit - 1 characters, up to and including the newline, CR LF
// taken as one newline. Returns 0 when the file ended before any character.
// startLine gets the line the piece began in; cutLine, when still 0, the
// line it stopped inside because the limit was reached.
int ReadPiece(IniFile& ini, char* buf, int limit, std::int32_t& startLine,
              std::int32_t& cutLine) {
  startLine = ini.line;
  int n = 0;
  int c = EOF;
  while (n < limit - 1) {
    c = std::getc(ini.file);
    if (c == EOF) break;
    if (c == '\r') {
      int next = std::getc(ini.file);
      if (next == '\n') {
        c = '\n';
      } else if (next != EOF) {
        (void)std::ungetc(next, ini.file);  // one character back is always allowed
      }
    }
    buf[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buf[n] = '\0';
  if (n == 0) return 0;
  if (c == '\n') {
    ++ini.line;
  } else if (c != EOF) {
    int next = std::getc(ini.file);
    if (next == EOF) {
      ++ini.line;  // the last line, merely without its newline
    } else {
      (void)std::ungetc(next, ini.file);
      if (cutLine == 0) cutLine = ini.line;
    }
  } else {
    ++ini.line;
  }
  return 1;
}

// Overwrites the work buffer before it is released: it held the plain value.
void Wipe(std::vector<unsigned char>& buf) {
  volatile unsigned char* p = buf.data();
  for (std::size_t i = 0; i < buf.size(); ++i) p[i] = 0;
}

}  // namespace

int Str_Pos(const char* text, char ch, int n) {
  int last = -1;
  int count = 0;
  for (int i = 0; text[i] != '\0'; ++i) {
    if (text[i] != ch) continue;
    last = i;
    if (++count == n) break;
  }
  return last;
}

void Str_Part(const char* text, int start, int len, char* dest, std::size_t cap) {
  if (len < 0 || cap == 0) return;
  std::size_t size = std::strlen(text);
  std::size_t from = start < 0 ? 0 : static_cast<std::size_t>(start);
  std::size_t take = from < size ? size - from : 0;
  if (len > 0 && static_cast<std::size_t>(len) < take) take = static_cast<std::size_t>(len);
  if (take > cap - 1) take = cap - 1;
  if (take > 0) std::memcpy(dest, text + from, take);
  dest[take] = '\0';
}

int Ini_Open(IniFile& ini, const char* path) {
  ini.file = path == nullptr ? nullptr : std::fopen(path, "r");
  ini.line = 1;
  return ini.file == nullptr ? -1 : 0;
}

void Ini_Close(IniFile& ini) {
  if (ini.file != nullptr) (void)std::fclose(ini.file);
  ini.file = nullptr;
}

int Ini_Next(IniFile& ini, IniEntry& entry) {
  entry = IniEntry{};
  char first[kFirstLineSize];
  char second[kSecondLineSize + 1];  // one more, for a newline appended to a last line
  // A first line without a partner comes out as the end of the file below.
  (void)ReadPiece(ini, first, kFirstLineSize, entry.firstLine, entry.cutLine);
  if (ReadPiece(ini, second, kSecondLineSize, entry.secondLine, entry.cutLine) == 0) return 0;

  int p1 = Str_Pos(first, ';', 1);
  int p2 = Str_Pos(first, ';', 2);
  Str_Part(first, p1 + 1, p2 - p1 - 1, entry.section, sizeof entry.section);

  int q1 = Str_Pos(second, ';', 1);
  if (q1 < 0) return 1;  // a stray line such as a blank one: not an entry
  entry.hasFields = 1;
  // A line beginning with ";" makes the number text the line itself, which
  // cannot begin with a digit and so reads as 0.
  char number[kNumberSize] = {};
  Str_Part(second, 0, q1, number, sizeof number);
  entry.number = Num_Parse(number);

  std::size_t size = std::strlen(second);
  if (std::memchr(second, '\n', size) == nullptr) {
    second[size] = '\n';
    second[size + 1] = '\0';
  }
  int q2 = Str_Pos(second, ';', 2);
  Str_Part(second, q1 + 1, q2 - q1 - 1, entry.key, sizeof entry.key);
  int nl = Str_Pos(second, '\n', 1);
  Str_Part(second, q2 + 1, nl - q2 - 1, entry.value, sizeof entry.value);
  return 1;
}

int Ini_Match(const IniEntry& entry, const char* section, const char* key, std::int32_t number) {
  if (entry.hasFields == 0) return 0;
  if (std::strcmp(entry.section, section) == 0) return 1;
  if (std::strcmp(entry.key, key) == 0) return 1;
  return entry.number == number ? 1 : 0;
}

void Ini_Read(const char* section, const char* key, std::int32_t number, const char* path) {
  ClearResult();
  IniFile ini{};
  if (Ini_Open(ini, path) != 0) return;
  IniEntry entry;
  while (Ini_Next(ini, entry) == 1) {
    if (Ini_Match(entry, section, key, number) == 0) continue;
    IniNumber = entry.number;
    std::memcpy(IniSection, entry.section, sizeof IniSection);
    std::memcpy(IniKey, entry.key, sizeof IniKey);
    std::memcpy(IniValue, entry.value, sizeof IniValue);
    // The plain text never outgrows the cipher text: 8 bytes per 16 characters.
    std::vector<unsigned char> work(std::strlen(IniValue) + 1);
    Pwd_Decrypt(IniValue, work.data(), kValueKey);
    Str_Part(reinterpret_cast<const char*>(work.data()), 0, 0, IniValue, sizeof IniValue);
    Wipe(work);
    break;
  }
  Ini_Close(ini);
}
