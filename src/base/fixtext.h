// Fixed-capacity text fields of the records and the one text-to-number rule
// every record reader shares.
#ifndef PIRZOL_BASE_FIXTEXT_H_
#define PIRZOL_BASE_FIXTEXT_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

// Text of fixed capacity N, as the record layout gives it; N counts the terminator.
template <std::size_t N>
class FixText {
  static_assert(N >= 2, "room for one character and the terminator");

 public:
  // Keeps at most N-1 characters of src and drops the rest; reads no further
  // than it keeps and never writes past buf_. A null src gives "".
  void assign(const char* src) {
    std::size_t n = 0;
    for (; src != nullptr && n < N - 1 && src[n] != '\0'; ++n) buf_[n] = src[n];
    std::memset(buf_ + n, 0, N - n);
  }
  // Like assign, but takes at most len bytes of src.
  void assign(const char* src, std::size_t len) {
    std::size_t n = 0;
    for (; src != nullptr && n < N - 1 && n < len && src[n] != '\0'; ++n) buf_[n] = src[n];
    std::memset(buf_ + n, 0, N - n);
  }
  const char* c_str() const { return buf_; }
  bool empty() const { return buf_[0] == '\0'; }
  std::size_t size() const { return std::strlen(buf_); }
  static constexpr std::size_t capacity() { return N; }
  bool operator==(const char* other) const { return std::strcmp(buf_, other) == 0; }

 private:
  char buf_[N] = {};
};

// The leading decimal integer of text: leading white space and a sign are
// allowed, the digits stop at the first other character, no digits give 0.
// A value beyond 32 bits is held at the nearest limit rather than wrapped.
// A null text gives 0.
std::int32_t Num_Parse(const char* text);

#endif  // PIRZOL_BASE_FIXTEXT_H_
