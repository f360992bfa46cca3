// The initial Blowfish tables every key schedule starts from: the fractional
// hexadecimal digits of pi, first the P-array, then the four S-boxes.
#ifndef PIRZOL_CONFIG_BFTABLES_H_
#define PIRZOL_CONFIG_BFTABLES_H_

#include <cstdint>

constexpr int kBfRounds = 16;

extern const std::uint32_t kBfInitP[kBfRounds + 2];
extern const std::uint32_t kBfInitS[4][256];

#endif  // PIRZOL_CONFIG_BFTABLES_H_
