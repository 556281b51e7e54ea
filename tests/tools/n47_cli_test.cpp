// The n47 command line as a user meets it: version, usage errors, numbers and paths it must
// refuse, TIFF frames in and out, simulated series, multi-page acquisitions and progress.
#include <gtest/gtest.h>

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "image_io.h"
#include "support/temp_dir.h"
#include "tavrin_n47.h"
#include "tool_run.h"

namespace {

namespace fs = std::filesystem;
using n47tooltest::BadInput;
using n47tooltest::n47;
using n47tooltest::quoted;
using n47tooltest::ToolRun;

TEST(Version, TheHeaderMacrosAndTheToolMatchTheProjectVersion) {
  EXPECT_STREQ(N47_VERSION_STRING, N47_PROJECT_VERSION);
  EXPECT_EQ(std::to_string(N47_VERSION_MAJOR) + "." + std::to_string(N47_VERSION_MINOR) + "." +
                std::to_string(N47_VERSION_PATCH),
            N47_PROJECT_VERSION);
  const ToolRun run = n47("--version");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "n47 " N47_PROJECT_VERSION "\n");
}

TEST_F(BadInput, UsageErrorsExitTwoAndNameWhatWasWrong) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "a command is needed (use demo, calibrate"},
      {"frobnicate", "unknown command 'frobnicate'"},
      {"maps frob " + f("good.raw"), "unknown command 'frob' (use stats, render)"},
      {"demo --flats 0", "--flats"},
      {"convert " + f("good.raw"), "output is required"},
      {"simulate flat " + f("keep.raw") + " --frames many", "--frames"},
  };
  for (const auto& [arguments, mentions] : cases) expectRefused(arguments, mentions, 2);
}

TEST_F(BadInput, NumbersMustBeFiniteAndInRange) {
  const std::pair<std::string, std::string> cases[] = {
      {"convert " + f("good.raw") + " " + f("keep.png") + " --window-low nan", "--window-low must be a finite number"},
      {"convert " + f("good.raw") + " " + f("keep.png") + " --window-high inf", "--window-high must be a finite number"},
      {"convert " + f("good.raw") + " " + f("keep.png") + " --window-low -1", "--window-low must be a finite number"},
      {"correct " + f("good.raw") + " " + f("keep.png") + " --window-high 1e300", "--window-high must be a finite"},
      {"simulate flat " + f("keep.raw") + " --dose nan", "--dose must be a finite number"},
      {"simulate flat " + f("keep.raw") + " --dose -inf", "--dose must be a finite number"},
      {"acquire " + f("keep.tif") + " --dose nan", "--dose must be a finite number"},
      {"acquire " + f("keep.tif") + " --frames 0", "--frames must lie between 1 and 65535"},
      {"simulate flat " + f("keep.raw") + " --frames 1001", "--frames must lie between 1 and 1000"},
  };
  for (const auto& [arguments, mentions] : cases) expectRefused(arguments, mentions);
}

TEST_F(BadInput, WindowOptionsWithAnOutputThatKeepsEveryValueAreRefused) {
  expectRefused("convert " + f("good.raw") + " " + f("keep.tif") + " --window-low 3", "shape only a .png picture");
  expectRefused("correct " + f("good.raw") + " " + f("keep.raw") + " --window-high 5", "shape only a .png picture");
}

TEST_F(BadInput, AnOutputThatIsAlsoAnInputOrAnotherOutputIsRefused) {
  fs::create_directory(dir.file("sub"));
  fs::create_symlink(dir.file("good.raw"), dir.file("link.raw"));
  const std::string good = f("good.raw"), alias = quoted(dir.file("sub/../good.raw"));
  const std::pair<std::string, std::string> cases[] = {
      {"calibrate " + good + " --pixel-map " + f("keep.map") + " --gain-map " + quoted(dir.file("sub/../keep.map")),
       "are the same file"},
      {"calibrate " + good + " --pixel-map " + alias + " --gain-map " + f("g.map"), "is also an input"},
      {"correct " + good + " " + alias, "is also an input"},
      {"correct " + good + " " + f("link.raw"), "is also an input"},
      {"correct " + good + " " + f("keep.raw") + " --gain-map " + f("keep.raw"), "is also an input"},
      {"convert " + good + " " + alias, "is also an input"},
      {"maps render " + f("keep.png") + " " + f("keep.png"), "is also an input"},
      {"simulate flat " + f("keep.raw") + " --ideal " + f("keep.raw"), "are the same file"},
      {"acquire " + f("keep.tif") + " --pixel-map " + f("keep.tif"), "is also an input"},
  };
  const auto before = n47test::readFileBytes(dir.file("good.raw"));
  for (const auto& [arguments, mentions] : cases) expectRefused(arguments, mentions);
  EXPECT_EQ(n47test::readFileBytes(dir.file("good.raw")), before);
  EXPECT_FALSE(fs::exists(dir.file("g.map")));
}

TEST(MapsStats, HugeGainsFallInTheTopBinOfTheHistogram) {
  n47test::TempDir dir;
  const float huge = 3e9f;
  std::vector<std::uint8_t> bytes(n47tool::kPixels * 4);
  for (std::size_t i = 0; i < n47tool::kPixels; ++i) std::memcpy(&bytes[4 * i], &huge, 4);
  n47test::writeFileBytes(dir.file("g.map"), bytes);
  const ToolRun run = n47("maps stats " + quoted(dir.file("g.map")));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(std::regex_search(run.output, std::regex(R"(<0\.55 +0\n)"))) << run.output;
  EXPECT_TRUE(std::regex_search(run.output, std::regex(R"(1\.45\+ +#+ 3145728\n)"))) << run.output;
}

// A TIFF as other programs write them, for the frames n47 must refuse.
void writeOtherTiff(const std::string& path, int bits, int samples, int width, int height, int pages) {
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * samples * bits / 8, 7);
  for (int page = 0; page < pages; ++page) {
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    for (int r = 0; r < height; ++r) TIFFWriteScanline(tiff, row.data(), static_cast<std::uint32_t>(r), 0);
    TIFFWriteDirectory(tiff);
  }
  TIFFClose(tiff);
}

TEST_F(BadInput, CorrectAndConvertReadTheirOwnTiffsAndRefuseOthers) {
  ASSERT_EQ(n47("convert " + f("good.raw") + " " + f("good.tif")).status, 0);
  const n47tool::TiffInfo info = n47tool::readTiffInfo(dir.file("good.tif"));
  EXPECT_EQ(info.software, "n47 " N47_VERSION_STRING);
  EXPECT_EQ(info.description, "frame as stored in the raw file good.raw");
  ASSERT_EQ(n47("correct " + f("good.tif") + " " + f("from_tif.raw")).status, 0);
  ASSERT_EQ(n47("correct " + f("good.raw") + " " + f("from_raw.raw")).status, 0);
  EXPECT_EQ(n47test::readFileBytes(dir.file("from_tif.raw")), n47test::readFileBytes(dir.file("from_raw.raw")));
  ASSERT_EQ(n47("correct " + f("good.tif") + " " + f("c.tif") + " --calibration-mode").status, 0);
  const std::string description = n47tool::readTiffInfo(dir.file("c.tif")).description;
  EXPECT_EQ(description, "corrected frame from good.tif; pixel map none, gain map none; calibration mode (no gain, no border mask)");

  writeOtherTiff(dir.file("grey8.tif"), 8, 1, 2048, 1536, 1);
  writeOtherTiff(dir.file("rgb16.tif"), 16, 3, 2048, 1536, 1);
  writeOtherTiff(dir.file("small.tif"), 16, 1, 640, 480, 1);
  writeOtherTiff(dir.file("pages.tif"), 16, 1, 2048, 1536, 2);
  std::ofstream(dir.file("text.tif")) << "not a TIFF";
  const std::pair<const char*, const char*> refused[] = {
      {"grey8.tif", "not a 16-bit greyscale TIFF (8 bits"}, {"rgb16.tif", "3 samples per pixel"},
      {"small.tif", "640 x 480 pixels"},                     {"pages.tif", "a TIFF of 2 pages"},
      {"text.tif", "not a readable TIFF"},
  };
  for (const auto& [name, mentions] : refused) {
    expectRefused("correct " + f(name) + " " + f("keep.raw"), mentions);
    expectRefused("convert " + f(name) + " " + f("keep.png"), mentions);
  }
}

TEST_F(BadInput, CorrectWindowsItsPictureAsAsked) {
  // The flat field of 1000 would be one grey level in the automatic window.
  ASSERT_EQ(n47("correct " + f("good.raw") + " " + f("w.png") + " --window-low 900 --window-high 1100").status, 0);
  const n47tool::Picture picture = n47tool::readPng(dir.file("w.png"));
  EXPECT_EQ(picture.bytes[static_cast<std::size_t>(768) * 2048 + 1024], 127);
  EXPECT_EQ(picture.bytes[0], 255) << "the masked border";
}

double medianAbsoluteDifference(const n47tool::Frame& a, const n47tool::Frame& b) {
  std::vector<int> differences(a.size());
  for (std::size_t i = 0; i < a.size(); ++i) differences[i] = std::abs(a[i] - b[i]);
  std::nth_element(differences.begin(), differences.begin() + differences.size() / 2, differences.end());
  return differences[differences.size() / 2];
}

TEST(Simulate, ASeriesHasFreshNoiseOnOnePanelAndTheIdealFileIsReported) {
  n47test::TempDir dir;
  const ToolRun run = n47("simulate flat " + quoted(dir.file("flat.raw")) + " --frames 3 --ideal " + quoted(dir.file("ideal.raw")));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("ideal image: " + dir.file("ideal.raw")), std::string::npos) << run.output;
  EXPECT_FALSE(fs::exists(dir.file("flat.raw")));
  ASSERT_EQ(n47("simulate flat " + quoted(dir.file("single.raw"))).status, 0);
  ASSERT_EQ(n47("simulate flat " + quoted(dir.file("other.raw")) + " --seed 48").status, 0);
  std::vector<n47tool::Frame> frames;
  for (const char* name : {"flat_000.raw", "flat_001.raw", "flat_002.raw"}) frames.push_back(n47tool::readRawFrame(dir.file(name)));
  EXPECT_EQ(frames[0], n47tool::readRawFrame(dir.file("single.raw")));
  EXPECT_NE(frames[0], frames[1]);
  EXPECT_NE(frames[1], frames[2]);
  // Frames of one panel differ by noise only; another panel's pixels respond differently too.
  EXPECT_LT(medianAbsoluteDifference(frames[1], frames[2]),
            medianAbsoluteDifference(frames[1], n47tool::readRawFrame(dir.file("other.raw"))) / 2);
}

TEST(Acquire, OnePageAFrameEachNamingItsIndexAndTemperature) {
  n47test::TempDir dir;
  const ToolRun run = n47("acquire " + quoted(dir.file("a.tif")) + " --frames 3 --scene phantom --dose 3000");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(n47tool::readTiffInfo(dir.file("a.tif")).pages, 3);
  for (int page = 0; page < 3; ++page) {
    const n47tool::TiffInfo info = n47tool::readTiffInfo(dir.file("a.tif"), page);
    std::smatch match;
    ASSERT_TRUE(std::regex_search(info.description, match,
                                  std::regex("^frame " + std::to_string(page + 1) + R"( of 3; (\d+) C at capture; phantom scene)")))
        << info.description;
    EXPECT_GT(std::stoi(match[1]), 15);
    EXPECT_EQ(info.software, "n47 " N47_VERSION_STRING);
  }
  int width = 0, height = 0;
  EXPECT_EQ(n47tool::readTiff16(dir.file("a.tif"), width, height).size(), n47tool::kPixels);
}

TEST(Progress, OneLineAStepInAPipeAndOneRedrawnLineOnATerminal) {
  n47test::TempDir dir;
  ASSERT_EQ(n47("simulate flat " + quoted(dir.file("f.raw")) + " --frames 2").status, 0);
  const std::string calibrate = std::string(N47_TOOL_PATH) + " calibrate " + quoted(dir.file("f_000.raw")) + " " +
                                quoted(dir.file("f_001.raw")) + " --pixel-map " + quoted(dir.file("p.map")) +
                                " --gain-map " + quoted(dir.file("g.map"));
  ToolRun run = n47tooltest::runShell(calibrate + " 2>&1 >/dev/null");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "calibrating 1/2\ncalibrating 2/2\n");
  if (n47tooltest::runShell("command -v script").status != 0) GTEST_SKIP() << "no script(1) to give a terminal";
  run = n47tooltest::runShell("script -qec \"" + calibrate + " >/dev/null\" /dev/null");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("\rcalibrating"), std::string::npos) << run.output;
}

}  // namespace
