// The n47 tool as a user runs it: the demo on a short series, and every subcommand refusing
// bad input with a message and exit status 1, leaving existing outputs intact.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "image_io.h"
#include "support/temp_dir.h"
#include "tool_run.h"

namespace {

namespace fs = std::filesystem;
using n47tooltest::n47;
using n47tooltest::quoted;
using n47tooltest::ToolRun;

double figure(const std::string& text, const std::string& pattern) {
  std::smatch match;
  if (!std::regex_search(text, match, std::regex(pattern))) return -1;
  return std::stod(match[1]);
}

TEST(N47Tool, TheDemoWritesEveryFileAndItsReportShowsTheCalibrationWorked) {
  n47test::TempDir dir;
  const std::string out = dir.file("demo");
  const ToolRun run = n47("demo --flats 3 --seed 5 --out " + quoted(out));
  ASSERT_EQ(run.status, 0) << run.output;
  const auto file = [&](const char* name) { return (fs::path(out) / name).string(); };
  for (const char* raw : {"phantom_raw.raw", "phantom_corrected.raw"}) EXPECT_EQ(fs::file_size(file(raw)), 6291456u) << raw;
  EXPECT_EQ(fs::file_size(file("pixel_map.raw")), 3149313u);
  EXPECT_EQ(fs::file_size(file("gain_map.raw")), 12582912u);
  for (const char* tif : {"phantom_raw.tif", "phantom_corrected.tif"}) {
    int w = 0, h = 0;
    const auto frame = n47tool::readTiff16(file(tif), w, h);
    EXPECT_EQ(w, 2048);
    EXPECT_EQ(h, 1536);
  }
  int w = 0, h = 0;
  EXPECT_EQ(n47tool::readTiff16(file("phantom_corrected.tif"), w, h), n47tool::readRawFrame(file("phantom_corrected.raw")));
  const auto preview = n47tool::readPng(file("phantom_before_after.png"));
  EXPECT_EQ(preview.height, 768);
  EXPECT_EQ(preview.width, 2 * 1024 + 8);
  EXPECT_EQ(n47tool::readPng(file("defect_map.png")).channels, 3);
  EXPECT_EQ(n47tool::readPng(file("gain_map.png")).width, 2048);
  EXPECT_TRUE(fs::exists(file("flat_before_after.png")));

  std::ifstream reportFile(file("report.txt"));
  const std::string report((std::istreambuf_iterator<char>(reportFile)), std::istreambuf_iterator<char>());
  const double found = figure(report, R"(all: \d+ found, \d+ missed \(([0-9.]+) % found\))");
  const double before = figure(report, R"(non-uniformity[^:]*: ([0-9.]+) % before)");
  const double after = figure(report, R"(% before, ([0-9.]+) % after)");
  EXPECT_GT(found, 90.0) << report;
  EXPECT_GT(before, 3.0) << report;
  EXPECT_LT(after, before / 3) << report;
  std::ifstream html(file("report.html"));
  const std::string page((std::istreambuf_iterator<char>(html)), std::istreambuf_iterator<char>());
  EXPECT_NE(page.find("<img src=\"phantom_before_after.png\">"), std::string::npos);
}

using BadInput = n47tooltest::BadInput;

TEST_F(BadInput, ConvertRefusesMissingWrongSizedAndUnknownFilesAndBadWindows) {
  expectRefused("convert " + f("missing.raw") + " " + f("keep.png"), "no such file");
  expectRefused("convert " + f("short.raw") + " " + f("keep.png"), "bytes");
  expectRefused("convert " + f("good.raw") + " " + f("out.jpg"), "unsupported file type");
  expectRefused("convert " + f("good.raw") + " " + quoted(dir.file("no/such/folder/out.png")), "does not exist");
  expectRefused("convert " + f("good.raw") + " " + f("keep.png") + " --window-low 500 --window-high 100", "window");
}

TEST_F(BadInput, CorrectRefusesBadFramesMapsAndOutputs) {
  expectRefused("correct " + f("short.raw") + " " + f("keep.raw"), "bytes");
  expectRefused("correct " + f("good.raw") + " " + f("keep.map"), "unsupported file type");
  expectRefused("correct " + f("good.raw") + " " + f("keep.raw") + " --pixel-map " + f("short.raw"), "pixel-map file");
  expectRefused("correct " + f("good.raw") + " " + f("keep.raw") + " --gain-map " + f("good.raw"), "gain-map file");
  fs::create_directory(dir.file("folder.raw"));
  expectRefused("correct " + f("good.raw") + " " + f("folder.raw"), "is a folder");
}

TEST_F(BadInput, CalibrateRefusesBadFlatsBeforeWritingAnyMap) {
  expectRefused("calibrate " + f("good.raw") + " " + f("short.raw") + " --pixel-map " + f("keep.map") + " --gain-map " +
                    f("keep.raw"),
                "bytes");
  expectRefused("calibrate " + f("good.raw") + " --pixel-map " + quoted(dir.file("none/p.map")) + " --gain-map " +
                    f("g.map"),
                "does not exist");
  EXPECT_FALSE(fs::exists(dir.file("g.map")));
}

TEST_F(BadInput, MapsAndSimulateRefuseBadInput) {
  expectRefused("maps stats " + f("short.raw"), "pixel-map file");
  expectRefused("maps render " + f("good.raw") + " " + f("keep.png"), "pixel-map file");
  expectRefused("simulate sunset " + f("keep.raw"), "unknown scene");
  expectRefused("simulate flat " + f("out.png"), "unsupported file type");
  expectRefused("simulate flat " + f("keep.raw") + " --dose -3", "dose");
}

TEST_F(BadInput, UsageErrorsExitNonZero) {
  EXPECT_NE(n47("").status, 0);
  EXPECT_NE(n47("frobnicate").status, 0);
  EXPECT_NE(n47("demo --flats 0").status, 0);
}

TEST(N47Tool, OfflineCalibrationAndCorrectionRoundTrip) {
  n47test::TempDir dir;
  for (int i = 0; i < 2; ++i) {
    const ToolRun run = n47("simulate flat " + quoted(dir.file("flat" + std::to_string(i) + ".raw")) + " --seed 3 --dose 5000");
    ASSERT_EQ(run.status, 0) << run.output;
  }
  ToolRun run = n47("calibrate " + quoted(dir.file("flat0.raw")) + " " + quoted(dir.file("flat1.raw")) + " --pixel-map " +
                quoted(dir.file("p.map")) + " --gain-map " + quoted(dir.file("g.map")));
  ASSERT_EQ(run.status, 0) << run.output;
  run = n47("maps stats " + quoted(dir.file("p.map")));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("marked rows: "), std::string::npos);
  run = n47("maps stats " + quoted(dir.file("g.map")));
  EXPECT_NE(run.output.find("gain: mean"), std::string::npos) << run.output;
  run = n47("correct " + quoted(dir.file("flat0.raw")) + " " + quoted(dir.file("c.tif")) + " --pixel-map " +
            quoted(dir.file("p.map")) + " --gain-map " + quoted(dir.file("g.map")));
  ASSERT_EQ(run.status, 0) << run.output;
  int w = 0, h = 0;
  const auto corrected = n47tool::readTiff16(dir.file("c.tif"), w, h);
  EXPECT_EQ(corrected[0], 16383) << "normal mode masks the border";
  run = n47("maps render " + quoted(dir.file("g.map")) + " " + quoted(dir.file("g.png")));
  EXPECT_EQ(run.status, 0) << run.output;
  run = n47("convert " + quoted(dir.file("flat0.raw")) + " " + quoted(dir.file("f.png")));
  EXPECT_EQ(run.status, 0) << run.output;
}

}  // namespace
