#include "base/journal.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool Attached = false;
int Level = -1;        // the level of the lines being written, -1 for none given
bool MidLine = false;  // the current line's prefix is written

bool IsJournal() {
  const char* value = std::getenv("JOURNAL_STREAM");
  if (value == nullptr || value[0] < '0' || value[0] > '9') return false;
  char* rest = nullptr;
  errno = 0;
  unsigned long long dev = std::strtoull(value, &rest, 10);
  if (rest[0] != ':' || rest[1] < '0' || rest[1] > '9') return false;
  unsigned long long ino = std::strtoull(rest + 1, &rest, 10);
  if (errno != 0 || rest[0] != '\0') return false;
  // A variable inherited from a service by a program started by hand names
  // a stream that is no longer descriptor 2: then the prefixes would only
  // clutter a terminal or a file.
  struct stat st {};
  if (fstat(STDERR_FILENO, &st) != 0) return false;
  return static_cast<unsigned long long>(st.st_dev) == dev &&
         static_cast<unsigned long long>(st.st_ino) == ino;
}

bool WriteAll(const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = write(STDERR_FILENO, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The stream's writes come in any pieces: a formatted line at once, or a
// line in several writes, or several lines in one. What one piece completes
// goes out in one write: the workers of a run share the journal's stream, and
// a prefix written apart from its text could land inside another's line.
ssize_t CookieWrite(void*, const char* buf, std::size_t size) {
  std::string out;
  out.reserve(size + 8);
  std::size_t i = 0;
  while (i < size) {
    if (!MidLine) {
      out += '<';
      out += static_cast<char>('0' + (Level >= 0 ? Level : kPrioError));
      out += '>';
      MidLine = true;
    }
    const void* nl = std::memchr(buf + i, '\n', size - i);
    std::size_t len = nl != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nl) -
                                                                (buf + i)) + 1
                                    : size - i;
    out.append(buf + i, len);
    i += len;
    if (nl != nullptr) MidLine = false;
  }
  // 0 is the stream's own way of saying a write failed.
  return WriteAll(out.data(), out.size()) ? static_cast<ssize_t>(size) : 0;
}

}  // namespace

int Jrn_Attach() {
  if (Attached || !IsJournal()) return 0;
  cookie_io_functions_t io{};
  io.write = CookieWrite;
  std::FILE* f = fopencookie(nullptr, "w", io);
  if (f == nullptr) return 0;  // the lines go out as before, without priorities
  // Unbuffered as stderr is: a line stands in the journal the moment it is
  // written, also when the run is killed right after it.
  std::setvbuf(f, nullptr, _IONBF, 0);
  std::fflush(stderr);
  stderr = f;
  Attached = true;
  return 1;
}

void Jrn_Level(int priority) { Level = priority >= 0 && priority <= 7 ? priority : -1; }
