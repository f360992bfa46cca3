// Finding an entry in the configuration file. Entries are pairs of lines:
// "...;section;..." and "number;key;value", the value stored encrypted
// (config/pwd.h). The start-up asks for its connection values here.
#ifndef PIRZOL_CONFIG_INI_H_
#define PIRZOL_CONFIG_INI_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr std::size_t kIniFieldSize = 201;  // each field holds up to 200 characters

// The result of the last Ini_Read: the matched entry's fields and its value
// in plain text, or all cleared when nothing matched.
extern std::int32_t IniNumber;
extern char IniSection[kIniFieldSize];
extern char IniKey[kIniFieldSize];
extern char IniValue[kIniFieldSize];

// Takes the first entry of the file at path whose section equals section, or
// whose key equals key, or whose number equals number, and decrypts its value
// into IniValue. A missing file or no match leaves the result cleared.
void Ini_Read(const char* section, const char* key, std::int32_t number, const char* path);

// Position of the n-th ch in text (n >= 1); of the last one when there are
// fewer; -1 when there is none.
int Str_Pos(const char* text, char ch, int n);
// Copies len characters of text from start into dest (len 0: all up to the
// end of text) and terminates it; len below 0 leaves dest alone. Reads no
// further than the end of text and keeps at most cap - 1 characters.
void Str_Part(const char* text, int start, int len, char* dest, std::size_t cap);

// One entry as the reader takes it apart, before any decryption. Line numbers
// count physical lines from 1, so tools can point at the file.
struct IniEntry {
  std::int32_t firstLine;   // line in which the entry's first read began
  std::int32_t secondLine;  // line in which its second read began
  std::int32_t cutLine;     // a line one of its reads stopped inside, 0 when none
  int hasFields;            // 0 when the second line has no ";": no entry at all
  std::int32_t number;
  char section[kIniFieldSize];
  char key[kIniFieldSize];
  char value[kIniFieldSize];  // cipher text as stored
};

// A configuration file being walked entry by entry.
struct IniFile {
  std::FILE* file;
  std::int32_t line;  // the line the next read begins in
};

// Opens path for walking. Returns 0, or -1 when it cannot be opened.
[[nodiscard]] int Ini_Open(IniFile& ini, const char* path);
// Reads the next pair of lines into entry. Returns 1, or 0 at the end of the
// file (a last line without a partner is dropped).
[[nodiscard]] int Ini_Next(IniFile& ini, IniEntry& entry);
// Closes the file when it is open.
void Ini_Close(IniFile& ini);
// 1 when Ini_Read would take entry for these arguments, else 0.
[[nodiscard]] int Ini_Match(const IniEntry& entry, const char* section, const char* key,
                            std::int32_t number);

#endif  // PIRZOL_CONFIG_INI_H_
