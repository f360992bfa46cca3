#include "support/batch.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>

#include "config/pwd.h"

std::vector<std::string> SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
    lines.push_back(text.substr(at, text.find('\n', at) - at));
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::string IniEntry(int number, const std::string& key, const std::string& value) {
  char hex[512] = {};
  EXPECT_EQ(Pwd_Encrypt(value.c_str(), hex, sizeof hex, "KORVANE"), 0);
  return "[;" + key + ";]\n" + std::to_string(number) + ";" + key + ";" + hex + "\n";
}

void BatchTest::SetUp() {
  DbTest::SetUp();
  ini_ = work_.File("pirzol.ini");
  WriteIni(ini_, kTestUser, kTestPass, "localhost", db_);
}

RunResult BatchTest::Run(const std::string& mode, const std::string& sw,
                         const std::vector<std::string>& options) {
  std::vector<std::string> args = {ini_, mode, sw};
  args.insert(args.end(), options.begin(), options.end());
  return RunProgram(PirzolBin(), args, work_.path());
}

std::vector<std::string> BatchTest::Again() {
  return {"--again", "--day=" + DashedYesterday()};
}

void BatchTest::WriteRawIni(const std::string& login, const std::string& pass,
                            const std::string& host, const std::string& schema) {
  std::ofstream out(ini_, std::ios::trunc);
  out << IniEntry(1, "LOGIN", login) << IniEntry(2, "PASS", pass) << IniEntry(3, "NET8", host)
      << IniEntry(4, "SCHEMA", schema);
  out.close();
  chmod(ini_.c_str(), 0600);
}

void BatchTest::SeedSickness(const std::string& pnr) {
  Seed("INSERT IGNORE INTO Qel131Fcd (FcdNum, FcdTyp, FcdZwt, FcdStd, FcdSol, FcdPri, FcdGpu,"
       " FcdFcd, FcdFlg) VALUES ('K', 1, 1, 0, 0, 5, 0, NULL, 'KF'),"
       " ('KF', 1, 1, 0, 0, 5, 0, NULL, 'KF')");
  Seed("INSERT INTO Qel327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd, TagTgb, TagTgs,"
       " TagHtv, TagHvs, TagHtn, TagHns) VALUES"
       " ('" + pnr + "', CURDATE() - INTERVAL 1 DAY, CURDATE() - INTERVAL 1 DAY,"
       " TIMESTAMP(CURDATE() - INTERVAL 1 DAY, '12:00:00'), CURDATE() - INTERVAL 1 DAY,"
       " TIMESTAMP(CURDATE() - INTERVAL 1 DAY, '12:00:00'), '', 0, '', 0, '', 0),"
       " ('" + pnr + "', CURDATE() - INTERVAL 2 DAY, CURDATE() - INTERVAL 2 DAY,"
       " TIMESTAMP(CURDATE() - INTERVAL 2 DAY, '07:00:00'), CURDATE() - INTERVAL 2 DAY,"
       " TIMESTAMP(CURDATE() - INTERVAL 2 DAY, '15:00:00'), 'K', 480, '', 0, '', 0)");
  Seed("INSERT INTO Qel320Tgb (TgbPnr, TgbDtm, TgbZtr, TgbSol) VALUES"
       " ('" + pnr + "', CURDATE() - INTERVAL 1 DAY, 1, 480),"
       " ('" + pnr + "', CURDATE() - INTERVAL 2 DAY, 1, 480)");
  Seed("INSERT INTO Qel321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES ('" + pnr +
       "', CURDATE() - INTERVAL 2 DAY, TIMESTAMP(CURDATE() - INTERVAL 2 DAY, '00:00:00'), 1,"
       " 'K')");
  Seed("INSERT INTO Qel329Ztg (ZtgPnr, ZtgVon, ZtgAzt, ZtgSta) VALUES ('" + pnr +
       "', CURDATE() - INTERVAL 1 DAY, 'R8', 0)");
  Seed("INSERT IGNORE INTO Qel140Azv (AzvNum, AzvGvo, AzvGbi, AzvSol, AzvSo2, AzvVhs, AzvHso,"
       " AzvHs2, AzvHtv, AzvSta) VALUES ('R8', '2000-01-01', NULL, 480, 0, 0, 0, 0, 0, 0)");
}

void BatchTest::SeedDemo() {
  const char* src = std::getenv("PIRZOL_SOURCE_DIR");
  ASSERT_NE(src, nullptr);
  admin_->ExecFile(std::string(src) + "/sql/demo.sql");
  Seed("COMMIT");
}

std::string BatchTest::DottedYesterday() {
  std::string y = Yesterday();
  return y.substr(6, 2) + "." + y.substr(4, 2) + "." + y.substr(0, 4);
}

std::string BatchTest::DashedYesterday() {
  std::string y = Yesterday();
  return y.substr(0, 4) + "-" + y.substr(4, 2) + "-" + y.substr(6, 2);
}

std::string BatchTest::Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}
