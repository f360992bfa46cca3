#include "base/runflags.h"

std::FILE* LogFile = nullptr;
int LogDetail = 0;
int ConsoleTrace = 0;
int KonsolMode = 0;
int DryRun = 0;
