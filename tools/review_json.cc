#include "review_json.h"

#include <cstdio>
#include <cstring>

namespace {

// A report line nests three deep; a deeper one is no report and must not
// run the reader's stack out.
constexpr int kMaxDepth = 64;

struct Reader {
  const std::string& s;
  std::size_t at = 0;

  void Blanks() {
    while (at < s.size() && (s[at] == ' ' || s[at] == '\t' || s[at] == '\r' || s[at] == '\n')) ++at;
  }
  bool Take(char c) {
    if (at < s.size() && s[at] == c) {
      ++at;
      return true;
    }
    return false;
  }
  bool Word(const char* w) {
    std::size_t n = std::strlen(w);
    if (s.compare(at, n, w) != 0) return false;
    at += n;
    return true;
  }
  int Hex4(unsigned& code) {
    if (at + 4 > s.size()) return -1;
    code = 0;
    for (int i = 0; i < 4; ++i) {
      char c = s[at++];
      code <<= 4;
      if (c >= '0' && c <= '9') code |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f') code |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') code |= static_cast<unsigned>(c - 'A' + 10);
      else return -1;
    }
    return 0;
  }
  static void Utf8(unsigned code, std::string& out) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  int String(std::string& out) {
    if (!Take('"')) return -1;
    while (at < s.size()) {
      unsigned char c = static_cast<unsigned char>(s[at++]);
      if (c == '"') return 0;
      if (c < 0x20) return -1;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (at >= s.size()) return -1;
      char e = s[at++];
      const char* plain = std::strchr("\"\\/bfnrt", e);
      if (plain != nullptr && e != '\0') {
        out += "\"\\/\b\f\n\r\t"[plain - "\"\\/bfnrt"];
        continue;
      }
      unsigned code = 0;
      if (e != 'u' || Hex4(code) != 0) return -1;
      // A lone half of a surrogate pair becomes the replacement character;
      // the escape after it is read on its own.
      if (code >= 0xD800 && code < 0xDC00 && s.compare(at, 2, "\\u") == 0) {
        std::size_t back = at;
        unsigned low = 0;
        at += 2;
        if (Hex4(low) == 0 && low >= 0xDC00 && low < 0xE000) {
          code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        } else {
          at = back;
        }
      }
      Utf8(code >= 0xD800 && code < 0xE000 ? 0xFFFD : code, out);
    }
    return -1;
  }
  int Number(std::string& out) {
    std::size_t from = at;
    Take('-');
    auto digits = [&] {
      std::size_t d = at;
      while (at < s.size() && s[at] >= '0' && s[at] <= '9') ++at;
      return at > d;
    };
    if (!digits()) return -1;
    if (Take('.') && !digits()) return -1;
    if (Take('e') || Take('E')) {
      if (!Take('+')) Take('-');
      if (!digits()) return -1;
    }
    out = s.substr(from, at - from);
    return 0;
  }
  int Value(JsonValue& v, int depth) {
    if (depth > kMaxDepth) return -1;
    Blanks();
    if (at >= s.size()) return -1;
    char c = s[at];
    if (c == '{') {
      ++at;
      v.kind = JsonValue::kObject;
      Blanks();
      if (Take('}')) return 0;
      do {
        Blanks();
        v.keys.emplace_back();
        if (String(v.keys.back()) != 0) return -1;
        Blanks();
        if (!Take(':')) return -1;
        v.items.emplace_back();
        if (Value(v.items.back(), depth + 1) != 0) return -1;
        Blanks();
      } while (Take(','));
      return Take('}') ? 0 : -1;
    }
    if (c == '[') {
      ++at;
      v.kind = JsonValue::kArray;
      Blanks();
      if (Take(']')) return 0;
      do {
        v.items.emplace_back();
        if (Value(v.items.back(), depth + 1) != 0) return -1;
        Blanks();
      } while (Take(','));
      return Take(']') ? 0 : -1;
    }
    if (c == '"') {
      v.kind = JsonValue::kString;
      return String(v.text);
    }
    if (Word("true") || Word("false")) {
      v.kind = JsonValue::kBool;
      v.truth = s[at - 2] == 'u';  // "true" ends in "ue", "false" in "se"
      return 0;
    }
    if (Word("null")) return 0;
    v.kind = JsonValue::kNumber;
    return Number(v.text);
  }
};

}  // namespace

const JsonValue* JsonValue::Find(const char* key) const {
  if (kind != kObject) return nullptr;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (keys[i] == key) return &items[i];
  }
  return nullptr;
}

int Json_Parse(const std::string& text, JsonValue& out) {
  out = JsonValue{};
  Reader r{text};
  if (r.Value(out, 0) != 0) return -1;
  r.Blanks();
  return r.at == text.size() ? 0 : -1;
}

void Json_WriteString(const std::string& s, std::string& out) {
  out += '"';
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == '<') {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

void Json_Write(const JsonValue& v, std::string& out) {
  switch (v.kind) {
    case JsonValue::kNull: out += "null"; break;
    case JsonValue::kBool: out += v.truth ? "true" : "false"; break;
    case JsonValue::kNumber: out += v.text; break;
    case JsonValue::kString: Json_WriteString(v.text, out); break;
    case JsonValue::kArray:
      out += '[';
      for (std::size_t i = 0; i < v.items.size(); ++i) {
        if (i != 0) out += ',';
        Json_Write(v.items[i], out);
      }
      out += ']';
      break;
    case JsonValue::kObject:
      out += '{';
      for (std::size_t i = 0; i < v.items.size(); ++i) {
        if (i != 0) out += ',';
        Json_WriteString(v.keys[i], out);
        out += ':';
        Json_Write(v.items[i], out);
      }
      out += '}';
      break;
  }
}
