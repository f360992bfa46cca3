// The JSON the review page is made of: a reader for one report line at a time
// and a writer whose text may stand inside an HTML script element.
#ifndef PIRZOL_TOOLS_REVIEW_JSON_H_
#define PIRZOL_TOOLS_REVIEW_JSON_H_

#include <string>
#include <vector>

struct JsonValue {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = kNull;
  bool truth = false;
  std::string text;               // a string's content (UTF-8), a number as written
  std::vector<std::string> keys;  // an object's keys, in order
  std::vector<JsonValue> items;   // an array's items, an object's values

  // The member named key, or nullptr (also when this is no object).
  [[nodiscard]] const JsonValue* Find(const char* key) const;
};

// Reads one whole JSON value from text (blanks around it allowed): 0, or -1
// when text is not one (cut off, malformed, nested deeper than 64).
[[nodiscard]] int Json_Parse(const std::string& text, JsonValue& out);

// Appends v as compact JSON. Every '<' is written as \u003c, so the text can
// neither end the script element it stands in nor open markup.
void Json_Write(const JsonValue& v, std::string& out);
void Json_WriteString(const std::string& s, std::string& out);

#endif  // PIRZOL_TOOLS_REVIEW_JSON_H_
