// Test support: the program's log redirected into a file of the test's own
// for the life of the object, with the detail switch as given.
#ifndef PIRZOL_TESTS_SUPPORT_LOGCAPTURE_H_
#define PIRZOL_TESTS_SUPPORT_LOGCAPTURE_H_

#include <string>

#include "support/dbtest.h"

class LogCapture {
 public:
  explicit LogCapture(int detail);
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  // Everything written to the log so far.
  std::string Text() const { return ReadFile(dir_.File("pirzol.log")); }

 private:
  TempDir dir_;
};

#endif  // PIRZOL_TESTS_SUPPORT_LOGCAPTURE_H_
