// pirzol-review through its binary: a real night's report made into the page
// and drawn by headless Chromium from file://.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/batch.h"

namespace {

std::string ReviewBin() { return std::getenv("PIRZOL_REVIEW_BIN"); }

class Review : public BatchTest {
 protected:
  void SetUp() override {
    BatchTest::SetUp();
    if (RunProgram(kChromium, {"--version"}, "").status == 0) return;
    const char* ci = std::getenv("CI");
    if (ci != nullptr && std::string(ci) == "true") FAIL() << "no chromium on CI (scripts/deps)";
    GTEST_SKIP() << "chromium is not installed (scripts/deps installs it)";
  }
  // Chromium on the page as a person opens it, as root too; the browser's own
  // background traffic is switched off, the page's is kept off by its policy.
  RunResult Browse(const std::string& page, const std::vector<std::string>& what) {
    std::vector<std::string> args = {"--headless", "--no-sandbox", "--disable-gpu",
                                     "--user-data-dir=" + work_.File("chromium"),
                                     "--disable-background-networking", "--no-first-run",
                                     "--window-size=1280,900"};
    args.insert(args.end(), what.begin(), what.end());
    args.push_back("file://" + page);
    return RunProgram(kChromium, args, work_.path());
  }
  static constexpr char kChromium[] = "chromium";
};

// Distinct pixel rows of a PNG (8-bit RGB or RGBA, as Chromium writes it): a
// blank page is one row over and over.
std::size_t PngRows(const std::string& png) {
  std::string idat;
  std::uint32_t width = 0, channels = 0;
  for (std::size_t at = 8; at + 8 <= png.size();) {
    const auto* p = reinterpret_cast<const unsigned char*>(png.data() + at);
    std::uint32_t len = (p[0] << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
    const std::string type = png.substr(at + 4, 4);
    if (type == "IHDR") {
      width = (p[8] << 24) | (p[9] << 16) | (p[10] << 8) | p[11];
      channels = p[17] == 6 ? 4 : 3;
    }
    if (type == "IDAT") idat += png.substr(at + 8, len);
    at += 12 + len;
  }
  const std::size_t stride = 1 + width * channels;
  std::vector<unsigned char> raw(stride * 4096);
  uLongf size = raw.size();
  if (width == 0 || uncompress(raw.data(), &size, reinterpret_cast<const Bytef*>(idat.data()),
                               idat.size()) != Z_OK) {
    return 0;
  }
  std::set<std::string> rows;
  for (std::size_t at = 0; at + stride <= size; at += stride) {
    rows.insert(std::string(reinterpret_cast<const char*>(raw.data()) + at, stride));
  }
  return rows.size();
}

// A night with every kind of decision (the demo's persons, a personnel
// number that is markup, a follow-up whose type cannot be read) through
// the batch, the page and the browser: what the page shows is the report.
TEST_F(Review, PageShowsTheReportsNumbersAndOnlyAsText) {
  SeedDemo();
  SeedSickness("<i>x</i>");
  SeedSickness("10000011");
  Seed("INSERT INTO Qel131Fcd (FcdNum, FcdTyp, FcdZwt, FcdStd, FcdSol, FcdPri, FcdGpu, FcdFcd,"
       " FcdFlg) VALUES ('XZ', 1, 1, 0, 0, 5, 0, NULL, 'QQ')");
  Seed("UPDATE Qel321Bch SET BchFcd = 'XZ' WHERE BchPnr = '10000011'");
  Seed("UPDATE Qel327Tag SET TagTgb = 'XZ' WHERE TagPnr = '10000011' AND TagTgb = 'K'");
  RunResult night = Run("XXX", "D", {"--report=" + work_.File("night.jsonl")});
  const std::string report = ReadFile(work_.File("night.jsonl"));
  ASSERT_NE(report.find("\"format\":1"), std::string::npos) << night.err;
  for (const char* kind : {"\"stopped\":\"type could not be read\"", "\"stopped\":\"target time\"",
                           "\"stopped\":\"stronger booking\"", "\"cancelled\":{"}) {
    ASSERT_NE(report.find(kind), std::string::npos) << kind << "\n" << report;
  }
  const std::string page = work_.File("night.html");
  RunResult made = RunProgram(ReviewBin(), {work_.File("night.jsonl"), "-o", page}, "");
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string html = ReadFile(page);
  EXPECT_LE(html.size(), report.size() * 3 / 2 + 200 * 1024);

  RunResult dom = Browse(page, {"--dump-dom"});
  ASSERT_EQ(dom.status, 0) << dom.err;
  // Every count of the run is a tile with its number.
  const std::size_t counts = report.find("\"counts\":{");
  const std::string countText = report.substr(counts, report.find('}', counts) - counts);
  const std::regex count("\"([a-z_]+)\":([0-9]+)");
  int tiles = 0;
  for (std::sregex_iterator it(countText.begin(), countText.end(), count), end; it != end; ++it) {
    EXPECT_NE(dom.out.find("data-key=\"" + (*it)[1].str() + "\"><b>" + (*it)[2].str() + "</b>"),
              std::string::npos)
        << (*it)[0] << "\n" << dom.out;
    ++tiles;
  }
  EXPECT_GE(tiles, 7);
  // One row per accounted day, the markup one as text, nothing injected.
  const long days = std::count(report.begin(), report.end(), '\n') - 1;
  EXPECT_NE(dom.out.find("data-rows=\"" + std::to_string(days) + "\""), std::string::npos);
  const std::size_t rows = dom.out.find("<tbody id=\"rows\">");
  long drawn = 0;
  for (std::size_t at = dom.out.find("<tr", rows); at < dom.out.find("</tbody>", rows);
       at = dom.out.find("<tr", at + 1)) {
    ++drawn;
  }
  EXPECT_EQ(drawn, days);
  EXPECT_NE(dom.out.find(">&lt;i&gt;x&lt;/i&gt;</td>"), std::string::npos);
  EXPECT_EQ(dom.out.find("<i>"), std::string::npos);
  EXPECT_NE(dom.out.find("type could not be read"), std::string::npos);
  // Nothing may load: a policy that allows no source, and no address at all.
  EXPECT_NE(html.find("content=\"default-src 'none';"), std::string::npos);
  EXPECT_EQ(html.find("http:"), std::string::npos);
  EXPECT_EQ(html.find("https:"), std::string::npos);
  EXPECT_EQ(html.find("<iframe"), std::string::npos);

  ASSERT_EQ(Browse(page, {"--screenshot=" + work_.File("page.png")}).status, 0);
  EXPECT_GT(PngRows(ReadFile(work_.File("page.png"))), 100u);

  // The same report cut off by a crash: shown up to its last whole object,
  // with a banner; a report of an unknown format is refused.
  const std::string cut = report.substr(0, report.rfind('\n', report.size() - 2) - 20);
  { std::ofstream(work_.File("cut.jsonl"), std::ios::binary) << cut; }
  ASSERT_EQ(RunProgram(ReviewBin(), {"cut.jsonl", "-o", page}, work_.path()).status, 0);
  dom = Browse(page, {"--dump-dom"});
  EXPECT_NE(dom.out.find("cut.jsonl was cut off"), std::string::npos) << dom.out;
  EXPECT_NE(dom.out.find("data-rows=\"" + std::to_string(days - 1) + "\""), std::string::npos);
  { std::ofstream(work_.File("next.jsonl")) << "{\"format\":2,\"dates\":[]}\n"; }
  RunResult refused = RunProgram(ReviewBin(), {"next.jsonl"}, work_.path());
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("report format 2 is unknown"), std::string::npos) << refused.err;
  // Text that grows sixfold as the page escapes it passes the ceiling: no page.
  const std::string big = "{\"note\":\"" + std::string(100000, '<') + "\"}\n";
  { std::ofstream(work_.File("big.jsonl")) << big; }
  refused = RunProgram(ReviewBin(), {"big.jsonl", "-o", "big.html"}, work_.path());
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("over its ceiling"), std::string::npos) << refused.err;
  EXPECT_FALSE(FileExists(work_.File("big.html")));
}

}  // namespace
