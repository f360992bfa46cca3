#include "base/fixtext.h"

#include <cctype>
#include <limits>

std::int32_t Num_Parse(const char* text) {
  if (text == nullptr) return 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (std::isspace(*p) != 0) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // Accumulated as a magnitude in 64 bits and stopped early, so a column
  // holding a long run of digits cannot overflow the accumulator.
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (value < kLimit) value = value * 10 + (*p - '0');
  }
  if (value > kLimit) value = kLimit;
  if (negative) return static_cast<std::int32_t>(-value);
  if (value == kLimit) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(value);
}
