#include "base/counts.h"

MldCounts MldCount{};
