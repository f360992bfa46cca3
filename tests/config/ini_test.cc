#include "config/ini.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/pwd.h"

namespace {

std::string Cipher(const char* plain) {
  char out[2 * 96 + 1];
  EXPECT_EQ(Pwd_Encrypt(plain, out, sizeof out, "KORVANE"), 0);
  return out;
}

class IniTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/pirzol-ini-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    path_ = dir_ + "/pirzol.ini";
  }
  void TearDown() override {
    (void)std::remove(path_.c_str());
    (void)std::remove(dir_.c_str());
  }
  const char* Write(const std::string& content) {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    return path_.c_str();
  }
  // The first pair of lines of content as the reader takes it apart.
  IniEntry First(const std::string& content) {
    IniFile ini{};
    IniEntry entry{};
    EXPECT_EQ(Ini_Open(ini, Write(content)), 0);
    EXPECT_EQ(Ini_Next(ini, entry), 1);
    Ini_Close(ini);
    return entry;
  }
  std::string dir_;
  std::string path_;
};

TEST(StrPos, FindsTheNthOrTheLastOccurrence) {
  EXPECT_EQ(Str_Pos("a;b;c", ';', 1), 1);
  EXPECT_EQ(Str_Pos("a;b;c", ';', 2), 3);
  EXPECT_EQ(Str_Pos("a;b;c", ';', 3), 3);
  EXPECT_EQ(Str_Pos("abc", ';', 1), -1);
  EXPECT_EQ(Str_Pos("", ';', 1), -1);
}

TEST(StrPart, CopiesWithinTheTextAndTheDestination) {
  char dest[6] = "keep";
  Str_Part("abcdef", 1, -1, dest, sizeof dest);
  EXPECT_STREQ(dest, "keep");
  Str_Part("abcdef", 1, 2, dest, sizeof dest);
  EXPECT_STREQ(dest, "bc");
  Str_Part("abcdef", 3, 0, dest, sizeof dest);
  EXPECT_STREQ(dest, "def");
  Str_Part("abcdef", 4, 10, dest, sizeof dest);
  EXPECT_STREQ(dest, "ef");
  Str_Part("abc", 7, 2, dest, sizeof dest);
  EXPECT_STREQ(dest, "");
  Str_Part("abcdefghij", 0, 0, dest, sizeof dest);
  EXPECT_STREQ(dest, "abcde");
}

TEST_F(IniTest, FieldsAreCutAtTheFirstTwoSemicolons) {
  struct Case {
    const char* text;
    const char* section;
    std::int32_t number;
    const char* key;
    const char* value;
  };
  const Case kCases[] = {
      {"x;ABC;y\n1;PASS;0A1B\n", "ABC", 1, "PASS", "0A1B"},
      {"no separator\n-7;K;AB;CD\n", "", -7, "K", "AB;CD"},
      {"one;only\n  12;K;\n", "", 12, "K", "\n"},
      {"a;;b\n1;ABCD\n", ";b\n", 1, "", "ABCD"},
      {"[;S;]\n1;;ABCD\n", "S", 1, ";ABCD\n", "ABCD"},
      {"[;S;]\n;1;PASS;V\n", "S", 0, "1", "PASS;V"},
      {"[;S;]\n99999999999999999999;K;V", "S", 2147483647, "K", "V"},
      {"[;S;]\r\n1;K;0A1B\r\n", "S", 1, "K", "0A1B"},
  };
  for (const Case& c : kCases) {
    IniEntry e = First(c.text);
    EXPECT_EQ(e.hasFields, 1) << c.text;
    EXPECT_STREQ(e.section, c.section) << c.text;
    EXPECT_EQ(e.number, c.number) << c.text;
    EXPECT_STREQ(e.key, c.key) << c.text;
    EXPECT_STREQ(e.value, c.value) << c.text;
  }
  EXPECT_EQ(First("[;S;]\nno separator\n").hasFields, 0);
}

TEST_F(IniTest, OverlongFieldsAreCutToTheirBuffers) {
  // A 300-character key leaves only 96 characters of the value inside the
  // 399-character read; the key is cut to its 200-character buffer.
  std::string key(300, 'K');
  std::string cipher = Cipher(std::string(96, 'x').c_str());
  IniEntry e = First("[;S;]\n1;" + key + ";" + cipher + "\n");
  EXPECT_EQ(std::strlen(e.key), 200u);
  EXPECT_EQ(std::string(e.value), cipher.substr(0, 96));

  // A value longer than its buffer is cut to 200 characters: twelve whole
  // blocks are decrypted, the partial rest is ignored.
  Write("[;S;]\n1;V;" + cipher + std::string(198, '0') + "\n");
  Ini_Read("", "V", -1, path_.c_str());
  EXPECT_EQ(std::string(IniValue), std::string(96, 'x'));
}

TEST_F(IniTest, StartUpCallsMatchAProperFileByKeyAlone) {
  Write("[;LOGIN;]\n1;LOGIN;" + Cipher("batch") + "\n[;PASS;]\n2;PASS;\n" +
        "[;SCHEMA;]\r\n3;SCHEMA;" + Cipher("zeit.") + "\r\n[;DANGLING;]\n");
  Ini_Read("", "SCHEMA", 0, path_.c_str());
  EXPECT_STREQ(IniValue, "zeit.");
  EXPECT_STREQ(IniSection, "SCHEMA");
  EXPECT_EQ(IniNumber, 3);
  Ini_Read("", "PASS", 0, path_.c_str());
  EXPECT_STREQ(IniValue, "");
  EXPECT_STREQ(IniKey, "PASS");
  Ini_Read("", "LOGIN", 0, path_.c_str());
  EXPECT_STREQ(IniValue, "batch");
  Ini_Read("DANGLING", "", -1, path_.c_str());  // a last line without a partner
  EXPECT_STREQ(IniKey, "");
  EXPECT_EQ(IniNumber, 0);
  Ini_Read("", "LOGIN", 0, (dir_ + "/missing.ini").c_str());
  EXPECT_STREQ(IniValue, "");
}

TEST_F(IniTest, NumberZeroOrEmptySectionShadowsLaterKeys) {
  const std::string kRest = "[;PASS;]\n2;PASS;" + Cipher("right") + "\n";
  const std::string kShadows[] = {
      "[;X;]\n0;OTHER;" + Cipher("shadow") + "\n",
      "[X]\n5;OTHER;" + Cipher("shadow") + "\n",
      "[;X;]\n;OTHER;" + Cipher("shadow") + "\n",
      "[;X;]\n7;PASS;" + Cipher("shadow") + "\n",  // first match wins
  };
  for (const std::string& shadow : kShadows) {
    Ini_Read("", "PASS", 0, Write(shadow + kRest));
    EXPECT_STREQ(IniValue, "shadow") << shadow;
  }
  // A second line without ";" is no entry, whatever its number would read.
  Ini_Read("", "PASS", 0, Write("[X]\nstray line\n" + kRest));
  EXPECT_STREQ(IniValue, "right");
}

TEST_F(IniTest, AnOverlongLineShiftsThePairingOfLaterLines) {
  const std::string kTail =
      "\n1;LOGIN;" + Cipher("batch") + "\n[;PASS;]\n2;PASS;" + Cipher("secret") + "\n";
  IniFile ini{};
  IniEntry e;
  for (std::size_t length : {198u, 199u}) {  // the read limit of a first line
    ASSERT_EQ(Ini_Open(ini, Write("[;LOGIN;]" + std::string(length - 9, ' ') + kTail)), 0);
    ASSERT_EQ(Ini_Next(ini, e), 1);
    Ini_Close(ini);
    EXPECT_EQ(e.cutLine, length == 198 ? 0 : 1);
    Ini_Read("", "PASS", 0, path_.c_str());
    // Shifted, "[;PASS;]" is read as a second line: number 0, value "]".
    EXPECT_STREQ(IniValue, length == 198 ? "secret" : "") << length;
    EXPECT_EQ(IniNumber, length == 198 ? 2 : 0) << length;
  }
  for (std::size_t length : {398u, 399u}) {  // the read limit of a second line
    ASSERT_EQ(Ini_Open(ini, Write("[;S;]\n1;K;" + std::string(length - 4, '0') + "\n")), 0);
    ASSERT_EQ(Ini_Next(ini, e), 1);
    EXPECT_EQ(e.cutLine, length == 398 ? 0 : 2);
    EXPECT_EQ(Ini_Next(ini, e), 0);
    Ini_Close(ini);
  }
}

}  // namespace
