// Test support: the batch run through its binary in a work folder of its own,
// against a fresh database of the private server.
#ifndef PIRZOL_TESTS_SUPPORT_BATCH_H_
#define PIRZOL_TESTS_SUPPORT_BATCH_H_

#include <string>
#include <vector>

#include "support/dbtest.h"

// A configuration entry written by hand, for values the tool would refuse.
std::string IniEntry(int number, const std::string& key, const std::string& value);

// The lines of text, sorted: parameter files compared whatever their order.
std::vector<std::string> SortedLines(const std::string& text);

class BatchTest : public DbTest {
 protected:
  void SetUp() override;
  // The batch with the three parameters and any options after them.
  RunResult Run(const std::string& mode, const std::string& sw,
                const std::vector<std::string>& options = {});
  // The accounted day handled once more: --day of yesterday, --again.
  std::vector<std::string> Again();
  std::string Log() { return ReadFile(work_.File("pirzol.log")); }
  std::string ParamFile() { return ReadFile(work_.File("pirzoltgb")); }
  void WriteRawIni(const std::string& login, const std::string& pass, const std::string& host,
                   const std::string& schema);
  // One person continuing a sickness: the day before the placeholder day
  // carries K, whose type is followed by KF.
  void SeedSickness(const std::string& pnr);
  // The demo's persons, one case each (sql/demo.sql).
  void SeedDemo();
  std::string DottedYesterday();
  std::string DashedYesterday();
  static std::string Upper(std::string s);

  TempDir work_;
  std::string ini_;
};

#endif  // PIRZOL_TESTS_SUPPORT_BATCH_H_
