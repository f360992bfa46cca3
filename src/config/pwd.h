// Decryption of the configuration file's values: Blowfish cipher blocks
// written as hexadecimal text, each 32-bit half of a block little-endian.
#ifndef PIRZOL_CONFIG_PWD_H_
#define PIRZOL_CONFIG_PWD_H_

#include <cstddef>
#include <cstdint>

#include "config/bftables.h"

// Blowfish key state: the P-array, then the four S-boxes.
struct BfKeyState {
  std::uint32_t P[kBfRounds + 2];
  std::uint32_t S[4][256];
};
static_assert(sizeof(BfKeyState) == 4168, "P-array and S-boxes without padding");

// The one key state. It holds zeros whenever Pwd_Decrypt or Pwd_Encrypt is
// not running, so no key material outlives a call.
extern BfKeyState BfState;

// The standard key schedule over len key bytes. With len 0 there is nothing
// to mix in and the state is the initial tables, encrypted through.
void Bf_Init(BfKeyState& state, const unsigned char* key, std::size_t len);
// Encrypts one block given as its two halves, in place.
void Bf_Encrypt(const BfKeyState& state, std::uint32_t& l, std::uint32_t& r);
// Decrypts one block given as its two halves, in place.
void Bf_Decrypt(const BfKeyState& state, std::uint32_t& l, std::uint32_t& r);
// The round function.
std::uint32_t Bf_F(const BfKeyState& state, std::uint32_t x);

// Writes n / 2 bytes from the first n characters of text. Only 0-9 and
// upper-case A-F are digits; any other character counts as its code - 48,
// so the lower-case "aa" gives 0x41. Reads no more than n characters.
void Hex_Decode(const char* text, std::size_t n, unsigned char* out);

// Decrypts every whole 16-character block of cipher into out and terminates
// it; a partial block at the end is ignored, so a lone "\n" gives "". out
// must hold 8 bytes per whole block plus one. Returns 1, always.
int Pwd_Decrypt(const char* cipher, unsigned char* out, const char* key);
// The inverse, for the tools that write configuration files: plain, padded
// with zero bytes to whole 8-byte blocks, as upper-case hexadecimal text.
// Returns 0, or -1 (and out "") when cap is below 16 per block plus one.
[[nodiscard]] int Pwd_Encrypt(const char* plain, char* out, std::size_t cap, const char* key);

#endif  // PIRZOL_CONFIG_PWD_H_
