#include "support/logcapture.h"

#include <cstdio>

#include "base/runflags.h"

LogCapture::LogCapture(int detail) {
  LogFile = std::fopen(dir_.File("pirzol.log").c_str(), "w");
  LogDetail = detail;
}

LogCapture::~LogCapture() {
  if (LogFile != nullptr) std::fclose(LogFile);
  LogFile = nullptr;
  LogDetail = 0;
}
