#include "config/pwd.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> FromHex(const std::string& hex) {
  std::vector<unsigned char> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<unsigned char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
  }
  return out;
}

std::uint32_t LoadBe(const unsigned char* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

bool StateIsZero() {
  static const BfKeyState kZero{};
  return std::memcmp(&BfState, &kZero, sizeof BfState) == 0;
}

// Decrypts through buffers of exactly the documented size, so that the
// sanitizer build catches any read or write past them.
std::string Decrypt(const std::string& cipher, const char* key = "KORVANE") {
  std::vector<char> in(cipher.begin(), cipher.end());
  in.push_back('\0');
  std::vector<unsigned char> out(8 * (cipher.size() / 16) + 1, 0xEE);
  EXPECT_EQ(Pwd_Decrypt(in.data(), out.data(), key), 1);
  EXPECT_EQ(out.back(), 0);
  return reinterpret_cast<const char*>(out.data());
}

// Published vectors, big-endian halves; the last six are the variable key
// length set (key prefixes of 1, 2, 7, 8, 16 and 24 bytes). Every one was
// also confirmed against an independent implementation.
struct Vector {
  const char* key;
  const char* plain;
  const char* cipher;
};
constexpr Vector kVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"F0", "FEDCBA9876543210", "F9AD597C49DB005E"},
    {"F0E1", "FEDCBA9876543210", "E91D21C1D961A6D6"},
    {"F0E1D2C3B4A596", "FEDCBA9876543210", "8BB77032F960629D"},
    {"F0E1D2C3B4A59687", "FEDCBA9876543210", "E87A244E2CC85E82"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F", "FEDCBA9876543210", "93142887EE3BE15C"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677", "FEDCBA9876543210",
     "05044B62FA52D080"},
};

TEST(Blowfish, PublishedVectorsEncryptAndDecryptBack) {
  for (const Vector& v : kVectors) {
    std::vector<unsigned char> key = FromHex(v.key);
    std::vector<unsigned char> plain = FromHex(v.plain);
    BfKeyState state;
    Bf_Init(state, key.data(), key.size());
    std::uint32_t l = LoadBe(plain.data());
    std::uint32_t r = LoadBe(plain.data() + 4);
    Bf_Encrypt(state, l, r);
    char got[17];
    std::snprintf(got, sizeof got, "%08X%08X", static_cast<unsigned>(l), static_cast<unsigned>(r));
    EXPECT_STREQ(got, v.cipher) << "key " << v.key;
    Bf_Decrypt(state, l, r);
    EXPECT_EQ(l, LoadBe(plain.data())) << "key " << v.key;
    EXPECT_EQ(r, LoadBe(plain.data() + 4)) << "key " << v.key;
  }
}

TEST(PwdDecrypt, ReadsEachHalfOfABlockLittleEndian) {
  // The FEDCBA9876543210 vector with the bytes of every half reversed.
  std::vector<unsigned char> out(9);
  Pwd_Decrypt("0FABCE0A8DA2A0C6", out.data(), "\xFE\xDC\xBA\x98\x76\x54\x32\x10");
  EXPECT_EQ(out, FromHex("67452301EFCDAB8900"));
}

TEST(PwdDecrypt, KorvaneValuesBothWays) {
  // Cipher texts computed independently of this code.
  const char* const kPairs[][2] = {{"pirzol", "376471E9EA4A1D7B"},
                                   {"12345678", "845E243A6A3B0A21"},
                                   {"zeit_batch_01", "CEB86C2D3F86E947CC2EC888FEDD15F7"},
                                   {"", ""}};
  for (const auto& pair : kPairs) {
    EXPECT_EQ(Decrypt(pair[1]), pair[0]);
    char cipher[33];
    ASSERT_EQ(Pwd_Encrypt(pair[0], cipher, sizeof cipher, "KORVANE"), 0);
    EXPECT_STREQ(cipher, pair[1]);
  }
}

TEST(PwdDecrypt, LowerCaseLettersAreNotHexDigits) {
  unsigned char out[3] = {0xEE, 0xEE, 0xEE};
  Hex_Decode("aaAA0f", 6, out);
  EXPECT_EQ(out[0], 0x41);  // 16 * 49 + 49, modulo 256
  EXPECT_EQ(out[1], 0xAA);
  EXPECT_EQ(out[2], 0x36);  // 'f' adds 54
  Hex_Decode("F", 1, out);
  EXPECT_EQ(out[0], 0x41);  // fewer than two characters write nothing
  EXPECT_NE(Decrypt("376471e9ea4a1d7b"), "pirzol");
}

TEST(PwdDecrypt, PartialBlocksAndEmptyFieldsDecryptToWholeBlocksOnly) {
  EXPECT_EQ(Decrypt("376471E9EA4A1D7BABCDE"), "pirzol");
  EXPECT_EQ(Decrypt("376471E9EA4A1D7"), "");
  EXPECT_EQ(Decrypt("\n"), "");
  EXPECT_EQ(Decrypt(""), "");
}

TEST(PwdDecrypt, KeyStateIsZeroAfterEveryCall) {
  EXPECT_EQ(Decrypt("CEB86C2D3F86E947CC2EC888FEDD15F7"), "zeit_batch_01");
  EXPECT_TRUE(StateIsZero());
  EXPECT_EQ(Decrypt(""), "");
  EXPECT_TRUE(StateIsZero());
  char cipher[17];
  ASSERT_EQ(Pwd_Encrypt("pirzol", cipher, sizeof cipher, "KORVANE"), 0);
  EXPECT_TRUE(StateIsZero());
}

TEST(PwdEncrypt, RefusesAnOutputBufferWithoutRoomForTheTerminator) {
  char cipher[16] = {'x'};
  EXPECT_EQ(Pwd_Encrypt("pirzol", cipher, sizeof cipher, "KORVANE"), -1);
  EXPECT_STREQ(cipher, "");
}

}  // namespace
