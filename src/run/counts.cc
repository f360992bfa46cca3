#include "run/counts.h"

MldCounts MldCount{};
