// The tool's pictures and report read back as a user sees them: legends and scales that stay
// legible at half size, a before/after flat that shows the truth, and a report page whose
// every picture loads in a real browser.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>

#include "image_io.h"
#include "map_analysis.h"
#include "support/temp_dir.h"
#include "tool_run.h"

namespace {

namespace fs = std::filesystem;
using n47tool::kHeight;
using n47tool::kWidth;
using n47tool::Picture;
using n47tooltest::quoted;
using n47tooltest::slurp;

const std::uint8_t* pixel(const Picture& picture, int x, int y) {
  return &picture.bytes[(static_cast<std::size_t>(y) * picture.width + x) * picture.channels];
}

TEST(MapPictures, ASingleCellStaysVisibleAtHalfSizeAndTheStatsNameTheLines) {
  n47tool::PixelMap map(n47tool::kPixelMapBytes, 0);
  const auto cell = [&](int r, int c) -> std::uint8_t& { return map[static_cast<std::size_t>(r) * (kWidth + 1) + c]; };
  cell(700, 900) = 1;       // a single defective cell
  cell(300, kWidth) = 1;    // marked row 300
  cell(kHeight, 1200) = 1;  // marked column 1200
  for (int c = 0; c < kWidth; ++c) cell(500, c) = 1;
  const std::string stats = n47tool::describe(n47tool::pixelMapStats(map));
  for (const char* line : {"marked rows: 1 (300)\n", "marked columns: 1 (1200)\n",
                           "rows of defective cells (over half the row): 1 (500)\n",
                           "columns of defective cells (over half the column): 0 (none)\n"}) {
    EXPECT_NE(stats.find(line), std::string::npos) << line << " in\n" << stats;
  }

  const Picture picture = n47tool::renderPixelMap(map);
  ASSERT_GT(picture.height, kHeight) << "a legend below the map";
  // A page showing the map at half size averages 2 x 2 pixels: the lone cell must still stand out.
  int brightest = 0;
  for (int y = 340; y < 360; ++y)
    for (int x = 440; x < 460; ++x)
      for (int channel = 0; channel < 3; ++channel) {
        int sum = 0;
        for (int d = 0; d < 4; ++d) sum += pixel(picture, 2 * x + d % 2, 2 * y + d / 2)[channel];
        brightest = std::max(brightest, sum / 4);
      }
  EXPECT_GT(brightest, 200);
  long dark = 0;
  for (int y = kHeight; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) dark += pixel(picture, x, y)[0] < 64;
  EXPECT_GT(dark, 2000) << "legend text";
}

TEST(MapPictures, TheGainMapCarriesAColourBarFromBlueThroughWhiteToRed) {
  const Picture picture = n47tool::renderGainMap(n47tool::GainMap(n47tool::kPixels, 1.0f));
  ASSERT_GT(picture.height, kHeight);
  bool found = false;
  for (int y = kHeight; y < picture.height && !found; ++y) {
    int blue = -1, white = -1, red = -1;
    for (int x = 0; x < picture.width; ++x) {
      const std::uint8_t* rgb = pixel(picture, x, y);
      if (blue < 0 && rgb[0] < 8 && rgb[1] < 8 && rgb[2] == 255) blue = x;
      if (blue >= 0 && white < 0 && rgb[0] > 250 && rgb[1] > 250 && rgb[2] > 250) white = x;
      if (white >= 0 && red < 0 && rgb[0] == 255 && rgb[1] < 8 && rgb[2] < 8) red = x;
    }
    found = red > 0;
  }
  EXPECT_TRUE(found);
}

// One demo run for the tests that read its pictures and its report.
class Demo : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = std::make_unique<n47test::TempDir>();
    const auto run = n47tooltest::n47("demo --flats 3 --seed 11 --out " + quoted(dir->file("demo")));
    ASSERT_EQ(run.status, 0) << run.output;
  }
  static void TearDownTestSuite() { dir.reset(); }
  static std::string file(const std::string& name) { return dir->file("demo/" + name); }
  static inline std::unique_ptr<n47test::TempDir> dir;
};

double greyDeviation(const Picture& picture, int x0, int x1, int y0, int y1) {
  double sum = 0, squares = 0;
  long n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) {
      const double v = *pixel(picture, x, y);
      sum += v, squares += v * v, ++n;
    }
  return std::sqrt(squares / n - (sum / n) * (sum / n));
}

TEST_F(Demo, TheFlatBeforeAndAfterSharesOneRelativeWindowAndTheCorrectedHalfIsFlatter) {
  const Picture picture = n47tool::readPng(file("flat_before_after.png"));
  ASSERT_GT(picture.height, kHeight / 2) << "the window written under the picture";
  // Halves of 1024 x 768 with a gap of 8, clear of the masked border.
  constexpr int kMargin = 24;
  const double raw = greyDeviation(picture, kMargin, 1024 - kMargin, kMargin, 768 - kMargin);
  const double corrected = greyDeviation(picture, 1032 + kMargin, 2056 - kMargin, kMargin, 768 - kMargin);
  std::cout << "flat_before_after.png grey-level deviation: raw " << raw << ", corrected " << corrected << "\n";
  EXPECT_LT(corrected, raw / 2);
}

TEST_F(Demo, TheReportHasTablesLinksToItsFilesAndALineUnderEachPicture) {
  const std::string page = slurp(file("report.html"));
  EXPECT_EQ(page.find("<pre>"), std::string::npos);
  long tables = 0;
  for (std::size_t at = page.find("<table>"); at != std::string::npos; at = page.find("<table>", at + 1)) ++tables;
  EXPECT_GE(tables, 6);
  const std::regex reference(R"#((href|src)="([^"]+)")#");
  int links = 0, pictures = 0;
  for (auto it = std::sregex_iterator(page.begin(), page.end(), reference); it != std::sregex_iterator(); ++it) {
    EXPECT_TRUE(fs::is_regular_file(file((*it)[2]))) << (*it)[2];
    ((*it)[1] == "href" ? links : pictures) += 1;
  }
  EXPECT_EQ(pictures, 4);
  for (const char* name : {"phantom_raw.raw", "phantom_corrected.raw", "phantom_raw.tif", "phantom_corrected.tif"}) {
    EXPECT_NE(page.find(std::string("<a href=\"") + name + "\">"), std::string::npos) << name;
  }
  EXPECT_GE(links, 6);
  const std::regex captioned(R"(<img [^>]*>\n<figcaption>[^<]*(window|Not windowed)[^<]*</figcaption>)");
  EXPECT_EQ(std::distance(std::sregex_iterator(page.begin(), page.end(), captioned), std::sregex_iterator()), 4);
  EXPECT_NE(page.find("each from its own median -10 % (black) to +10 % (white)"), std::string::npos);
}

// Headless Chromium opens a copy of the page that, once everything has loaded, writes into its
// body how many pictures it has and which of them failed; one picture is missing on purpose, so
// the check shows that it can see a broken one.
TEST_F(Demo, EveryPictureOfTheReportLoadsInChromium) {
  if (n47tooltest::runShell("command -v chromium >/dev/null").status != 0) {
    if (std::getenv("N47_REQUIRE_CHROMIUM") != nullptr) FAIL() << "chromium is not installed";
    GTEST_SKIP() << "chromium is not installed (scripts/install-deps.sh browser)";
  }
  std::string page = slurp(file("report.html"));
  const std::string probe =
      "<img src=\"no_such_picture.png\" alt=\"\"><script>addEventListener('load', () => {"
      "const broken = [...document.images].filter(i => !i.complete || i.naturalWidth === 0).map(i => i.getAttribute('src'));"
      "document.body.dataset.images = document.images.length; document.body.dataset.broken = broken.join(' ');});</script>";
  page.insert(page.rfind("</body>"), probe);
  std::ofstream(file("report_check.html")) << page;
  const auto run = n47tooltest::runShell("chromium --headless --no-sandbox --disable-gpu --user-data-dir=" +
                                         quoted(dir->file("profile")) + " --virtual-time-budget=10000 --dump-dom " +
                                         quoted("file://" + file("report_check.html")) + " 2>/dev/null");
  ASSERT_EQ(run.status, 0);
  EXPECT_NE(run.output.find("data-images=\"5\" data-broken=\"no_such_picture.png\""), std::string::npos)
      << run.output.substr(0, 2000);
}

}  // namespace
