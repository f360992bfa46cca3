#include "review_page.h"

#include <cstdint>
#include <cstring>

namespace {

// kStyle and kScript: review_page.css and review_page.js, made into C++
// text by embed.cmake at build time.
#include "review_assets.h"

constexpr char kHead[] =
    "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
    "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
    "style-src 'sha256-%STYLE%'; script-src 'sha256-%SCRIPT%'; base-uri 'none'; "
    "form-action 'none'\">\n"
    "<meta name=\"referrer\" content=\"no-referrer\">\n"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
    "<title>pirzol: review of a night</title>\n<style>";

constexpr char kBody[] =
    "</style></head>\n<body>\n"
    "<h1>Review of the night</h1>\n<p id=\"summary\"></p>\n<div id=\"banners\"></div>\n"
    "<noscript><p class=\"banner bad\">This page needs JavaScript to show the report.</p>"
    "</noscript>\n"
    "<div id=\"tiles\" class=\"tiles\"></div>\n"
    "<div class=\"charts\"><figure><figcaption>Follow-ups booked per code</figcaption>"
    "<svg id=\"chart-codes\" role=\"img\"></svg></figure>\n"
    "<figure id=\"fig-dates\" hidden><figcaption>Follow-ups booked per date</figcaption>"
    "<svg id=\"chart-dates\" role=\"img\"></svg></figure></div>\n"
    "<h2>Nights</h2>\n<table id=\"nights\"><thead><tr><th>Report</th><th>Accounted days</th>"
    "<th>Run</th><th>Exit status</th><th>Dry run</th><th>Options</th><th>Days shown</th>"
    "<th>Other</th></tr></thead><tbody></tbody></table>\n"
    "<h2>Accounted days</h2>\n<div class=\"filters\">"
    "<label>Person <input id=\"f-person\" type=\"search\"></label>"
    "<label>Code <select id=\"f-code\"><option value=\"\">any</option></select></label>"
    "<label>Reason <select id=\"f-reason\"><option value=\"\">any</option>"
    "<option value=\"#failed\">failed days</option><option value=\"#booked\">booked</option>"
    "<option value=\"#cancelled\">cancelled a booking</option>"
    "<option value=\"#none\">no follow-up</option></select></label>"
    "<label>Sort <select id=\"f-sort\"><option value=\"rank\">failed, then follow-ups</option>"
    "<option value=\"person\">person</option><option value=\"date\">date</option>"
    "<option value=\"retries\">retries</option></select></label></div>\n"
    "<p id=\"count\"></p>\n"
    "<table id=\"days\"><thead><tr><th>Person</th><th>Date</th><th>Last message day</th>"
    "<th>Follow-ups weighed</th><th>Line</th><th>Retries</th><th>Other</th></tr></thead>"
    "<tbody id=\"rows\"></tbody></table>\n"
    "<div class=\"pager\"><button id=\"prev\" type=\"button\">Previous</button> "
    "<span id=\"page\"></span> <button id=\"next\" type=\"button\">Next</button></div>\n"
    "<footer><span id=\"made\"></span> <span id=\"drawn\"></span></footer>\n"
    "<script type=\"application/json\" id=\"data\">";

constexpr char kScriptOpen[] = "</script>\n<script>";
constexpr char kTail[] = "</script>\n</body></html>\n";

// SHA-256, for the hashes by which the policy names the page's own script
// and style: nothing else inline may run, should anything slip in.
std::string Sha256(const char* text) {
  static const std::uint32_t k[64] = {
      0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
      0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
      0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
      0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
      0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
      0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
      0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
      0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
      0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
      0xc67178f2};
  std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::string msg(text);
  const std::uint64_t bits = static_cast<std::uint64_t>(msg.size()) * 8;
  msg += static_cast<char>(0x80);
  while (msg.size() % 64 != 56) msg += '\0';
  for (int i = 7; i >= 0; --i) msg += static_cast<char>(bits >> (8 * i));
  auto rotr = [](std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
  for (std::size_t at = 0; at < msg.size(); at += 64) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
      w[i] = 0;
      for (int b = 0; b < 4; ++b) {
        w[i] = (w[i] << 8) | static_cast<unsigned char>(msg[at + 4 * i + b]);
      }
    }
    for (int i = 16; i < 64; ++i) {
      std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t v[8];
    std::memcpy(v, h, sizeof v);
    for (int i = 0; i < 64; ++i) {
      std::uint32_t t1 = v[7] + (rotr(v[4], 6) ^ rotr(v[4], 11) ^ rotr(v[4], 25)) +
                         ((v[4] & v[5]) ^ (~v[4] & v[6])) + k[i] + w[i];
      std::uint32_t t2 = (rotr(v[0], 2) ^ rotr(v[0], 13) ^ rotr(v[0], 22)) +
                         ((v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]));
      std::memmove(v + 1, v, 7 * sizeof v[0]);
      v[4] += t1;
      v[0] = t1 + t2;
    }
    for (int i = 0; i < 8; ++i) h[i] += v[i];
  }
  std::string digest;
  for (std::uint32_t x : h) {
    for (int b = 3; b >= 0; --b) digest += static_cast<char>(x >> (8 * b));
  }
  return digest;
}

std::string Base64(const std::string& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t n = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(n >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[n & 63] : '=';
  }
  return out;
}

std::string Head() {
  std::string head = kHead;
  head.replace(head.find("%STYLE%"), 7, Base64(Sha256(kStyle)));
  head.replace(head.find("%SCRIPT%"), 8, Base64(Sha256(kScript)));
  return head;
}

}  // namespace

std::string Page_Build(const std::string& data) {
  return Head() + kStyle + kBody + data + kScriptOpen + kScript + kTail;
}
