// pirzol-ini through its binary: what it writes is what the batch reads.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "config/ini.h"
#include "config/pwd.h"
#include "support/dbtest.h"

namespace {

std::string Decrypted(const std::string& cipher) {
  std::vector<char> in(cipher.begin(), cipher.end());
  in.push_back('\0');
  std::vector<unsigned char> out(cipher.size() / 2 + 1, 0);
  EXPECT_EQ(Pwd_Decrypt(in.data(), out.data(), "KORVANE"), 1);
  return reinterpret_cast<const char*>(out.data());
}

RunResult Ini(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
              const std::string& input = "") {
  return RunProgram(PirzolIniBin(), args, "/", env, input);
}

TEST(PirzolIniEncrypt, PrintsUpperCaseWholeBlocksThatDecryptBack) {
  const std::string kValues[] = {"a", "pirzol", "exactly8", "nine char", "semi;colon%'\\",
                                 std::string(50, 'z')};
  for (const std::string& v : kValues) {
    RunResult r = Ini({"encrypt"}, {}, v + "\n");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string hex = r.out.substr(0, r.out.find('\n'));
    EXPECT_EQ(hex.size() % 16, 0u) << v;
    EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos) << hex;
    EXPECT_EQ(Decrypted(hex), v);
  }
}

TEST(PirzolIniWrite, FileGivesTheBatchExactlyTheFourValues) {
  TempDir dir;
  const std::string path = dir.File("batch.ini");
  WriteIni(path, "nightly", "s3cr;et", "localhost", "zeiten");
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  const char* kKeys[] = {"LOGIN", "PASS", "NET8", "SCHEMA"};
  const char* kWant[] = {"nightly", "s3cr;et", "localhost", "zeiten"};
  for (int i = 0; i < 4; ++i) {
    Ini_Read("", kKeys[i], 0, path.c_str());
    std::string got = IniValue;
    if (i == 3) {  // stored with the one character the batch drops
      ASSERT_FALSE(got.empty());
      got.pop_back();
    }
    EXPECT_EQ(got, kWant[i]) << kKeys[i];
    EXPECT_STREQ(IniKey, kKeys[i]);
    EXPECT_NE(IniNumber, 0);
  }
  RunResult check = Ini({"check", path});
  EXPECT_EQ(check.status, 0) << check.err;
  EXPECT_EQ(check.out.find("s3cr;et"), std::string::npos);
  EXPECT_EQ(check.err.find("s3cr;et"), std::string::npos);
}

TEST(PirzolIniWrite, OverlongValueIsRefusedAndNothingIsWritten) {
  TempDir dir;
  const std::string path = dir.File("batch.ini");
  std::vector<std::string> env = {"PIRZOL_LOGIN=u", "PIRZOL_PASS=" + std::string(51, 'p'),
                                  "PIRZOL_HOST=localhost", "PIRZOL_DATABASE=db"};
  RunResult r = Ini({"write", path}, env);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("PASS"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(std::string(51, 'p')), std::string::npos);
  EXPECT_FALSE(FileExists(path));

  env[1] = "PIRZOL_PASS=p";
  env[3] = "PIRZOL_DATABASE=" + std::string(21, 'd');
  EXPECT_NE(Ini({"write", path}, env).status, 0);
  EXPECT_FALSE(FileExists(path));
}

TEST(PirzolIniCheck, WarnsAboutShadowingEntriesAndBadCipherText) {
  TempDir dir;
  const std::string path = dir.File("batch.ini");
  WriteIni(path, "nightly", "secret", "localhost", "zeiten");
  std::string good = ReadFile(path);

  // An entry with number 0 ahead of the others is taken for every key.
  const std::string shadow = "[;OLD;]\n0;OBSOLETE;" + good.substr(good.rfind(';') + 1);
  std::FILE* f = std::fopen(path.c_str(), "w");
  std::fputs((shadow + good).c_str(), f);
  std::fclose(f);
  RunResult r = Ini({"check", path});
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(r.err.empty());

  f = std::fopen(path.c_str(), "w");
  std::fputs("[;LOGIN;]\n1;LOGIN;0a0b0c0d0e0f0a0b\n[;PASS;]\n2;PASS;ABC\n", f);
  std::fclose(f);
  EXPECT_EQ(Ini({"check", path}).status, 1);

  EXPECT_EQ(Ini({"check", dir.File("missing.ini")}).status, 2);
  EXPECT_EQ(Ini({"frobnicate"}).status, 2);
  RunResult help = Ini({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: pirzol-ini encrypt\n", 0), 0u) << help.out;
  EXPECT_EQ(Ini({"--version"}).out, "pirzol-ini " PIRZOL_VERSION "\n");
}

}  // namespace
