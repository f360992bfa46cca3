// Any bytes as a configuration file: the start-up's four lookups, then every
// entry as the tool walks it, decrypted, and the bytes themselves as cipher
// text through a buffer of exactly the size the reader would give them.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/ini.h"
#include "config/pwd.h"

namespace {

// One file, rewritten for every input; the reader takes a path.
const std::string& InputPath() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    std::string p = std::string(dir != nullptr ? dir : "/tmp") + "/pirzol-fuzz-" +
                    std::to_string(getpid()) + ".ini";
    return p;
  }();
  return path;
}

bool WriteInput(const std::uint8_t* data, std::size_t size) {
  int fd = open(InputPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  close(fd);
  return done == size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!WriteInput(data, size)) return 0;
  const char* path = InputPath().c_str();
  for (const char* key : {"LOGIN", "PASS", "NET8", "SCHEMA"}) {
    Ini_Read("", key, 0, path);
    if (std::strlen(IniValue) >= kIniFieldSize) std::abort();
  }
  IniFile ini{};
  if (Ini_Open(ini, path) == 0) {
    IniEntry entry{};
    while (Ini_Next(ini, entry) == 1) {
      (void)Ini_Match(entry, "", "PASS", 0);
    }
    Ini_Close(ini);
  }

  // The bytes as cipher text, cut at the first zero byte like any C text.
  std::vector<char> cipher(data, data + size);
  cipher.push_back('\0');
  std::size_t len = std::strlen(cipher.data());
  std::vector<unsigned char> out(8 * (len / 16) + 1);
  (void)Pwd_Decrypt(cipher.data(), out.data(), "KORVANE");
  if (out.back() != 0) std::abort();
  static const BfKeyState kZero{};
  if (std::memcmp(&BfState, &kZero, sizeof BfState) != 0) std::abort();
  return 0;
}
