#include "config/pwd.h"

#include <cstring>

BfKeyState BfState{};

namespace {

constexpr std::size_t kBlockChars = 16;  // hexadecimal characters per 8-byte block
constexpr char kHexDigits[] = "0123456789ABCDEF";

// The stored values were written on a little-endian machine that copied
// each half of a block straight from memory, so the halves are read that way.
std::uint32_t LoadLe(const unsigned char* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

void StoreLe(std::uint32_t v, unsigned char* p) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

// Clears the state through a volatile pointer so that the stores cannot be
// dropped as dead, whatever the optimiser concludes about later reads.
void WipeState() {
  volatile unsigned char* p = reinterpret_cast<volatile unsigned char*>(&BfState);
  for (std::size_t i = 0; i < sizeof BfState; ++i) p[i] = 0;
}

void KeyState(const char* key) {
  Bf_Init(BfState, reinterpret_cast<const unsigned char*>(key), std::strlen(key));
}

}  // namespace

std::uint32_t Bf_F(const BfKeyState& state, std::uint32_t x) {
  std::uint32_t h = state.S[0][x >> 24] + state.S[1][(x >> 16) & 0xFF];
  return (h ^ state.S[2][(x >> 8) & 0xFF]) + state.S[3][x & 0xFF];
}

void Bf_Encrypt(const BfKeyState& state, std::uint32_t& l, std::uint32_t& r) {
  std::uint32_t xl = l;
  std::uint32_t xr = r;
  for (int i = 0; i < kBfRounds; ++i) {
    xl ^= state.P[i];
    xr ^= Bf_F(state, xl);
    std::uint32_t t = xl;
    xl = xr;
    xr = t;
  }
  // Undo the last exchange, then whiten with the two remaining entries.
  l = xr ^ state.P[kBfRounds + 1];
  r = xl ^ state.P[kBfRounds];
}

void Bf_Decrypt(const BfKeyState& state, std::uint32_t& l, std::uint32_t& r) {
  std::uint32_t xl = l;
  std::uint32_t xr = r;
  for (int i = kBfRounds + 1; i > 1; --i) {
    xl ^= state.P[i];
    xr ^= Bf_F(state, xl);
    std::uint32_t t = xl;
    xl = xr;
    xr = t;
  }
  l = xr ^ state.P[0];
  r = xl ^ state.P[1];
}

void Bf_Init(BfKeyState& state, const unsigned char* key, std::size_t len) {
  std::memcpy(state.P, kBfInitP, sizeof state.P);
  std::memcpy(state.S, kBfInitS, sizeof state.S);
  if (len > 0) {
    std::size_t k = 0;
    for (std::uint32_t& p : state.P) {
      std::uint32_t word = 0;
      for (int b = 0; b < 4; ++b) {
        word = word << 8 | key[k];
        k = k + 1 == len ? 0 : k + 1;
      }
      p ^= word;
    }
  }
  std::uint32_t l = 0;
  std::uint32_t r = 0;
  for (int i = 0; i < kBfRounds + 2; i += 2) {
    Bf_Encrypt(state, l, r);
    state.P[i] = l;
    state.P[i + 1] = r;
  }
  for (auto& box : state.S) {
    for (int i = 0; i < 256; i += 2) {
      Bf_Encrypt(state, l, r);
      box[i] = l;
      box[i + 1] = r;
    }
  }
}

void Hex_Decode(const char* text, std::size_t n, unsigned char* out) {
  for (std::size_t k = 0; k < n / 2; ++k) {
    int digit[2];
    for (int j = 0; j < 2; ++j) {
      int c = static_cast<unsigned char>(text[2 * k + j]);
      digit[j] = c >= 'A' && c <= 'F' ? c - 55 : c - 48;
    }
    // Conversion to unsigned char keeps the value modulo 256, negative or not.
    out[k] = static_cast<unsigned char>(16 * digit[0] + digit[1]);
  }
}

int Pwd_Decrypt(const char* cipher, unsigned char* out, const char* key) {
  KeyState(key);
  std::size_t blocks = std::strlen(cipher) / kBlockChars;
  for (std::size_t b = 0; b < blocks; ++b) {
    unsigned char* block = out + 8 * b;
    Hex_Decode(cipher + kBlockChars * b, kBlockChars, block);
    std::uint32_t l = LoadLe(block);
    std::uint32_t r = LoadLe(block + 4);
    Bf_Decrypt(BfState, l, r);
    StoreLe(l, block);
    StoreLe(r, block + 4);
  }
  out[8 * blocks] = 0;
  WipeState();
  return 1;
}

int Pwd_Encrypt(const char* plain, char* out, std::size_t cap, const char* key) {
  std::size_t len = std::strlen(plain);
  std::size_t blocks = (len + 7) / 8;
  if (cap < kBlockChars * blocks + 1) {
    if (cap > 0) out[0] = '\0';
    return -1;
  }
  KeyState(key);
  for (std::size_t b = 0; b < blocks; ++b) {
    unsigned char block[8] = {};
    std::size_t take = len - 8 * b < 8 ? len - 8 * b : 8;
    std::memcpy(block, plain + 8 * b, take);
    std::uint32_t l = LoadLe(block);
    std::uint32_t r = LoadLe(block + 4);
    Bf_Encrypt(BfState, l, r);
    StoreLe(l, block);
    StoreLe(r, block + 4);
    for (int i = 0; i < 8; ++i) {
      out[kBlockChars * b + 2 * i] = kHexDigits[block[i] >> 4];
      out[kBlockChars * b + 2 * i + 1] = kHexDigits[block[i] & 0xF];
    }
  }
  out[kBlockChars * blocks] = '\0';
  WipeState();
  return 0;
}
