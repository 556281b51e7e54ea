// The live commands on the test grabber (tests/grabber), a USB_FRM01 library with only the
// eleven operations: what a lab with the panel runs.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "grabber/test_grabber_panel.h"
#include "image_io.h"
#include "map_analysis.h"
#include "support/temp_dir.h"
#include "tool_run.h"

namespace {

using n47tooltest::BadInput;
using n47tooltest::n47;
using n47tooltest::quoted;
using n47tooltest::ToolRun;

const std::string kGrabber = quoted(N47_TEST_GRABBER_PATH);
const std::string kOnGrabber = " --grabber " + kGrabber;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Relative standard deviation over the frame clear of the masked border.
double nonUniformity(const n47tool::Frame& frame) {
  constexpr int kMargin = 32;
  double sum = 0, squares = 0, n = 0;
  for (int r = kMargin; r < n47tool::kHeight - kMargin; ++r) {
    for (int c = kMargin; c < n47tool::kWidth - kMargin; ++c) {
      const double v = frame[static_cast<std::size_t>(r) * n47tool::kWidth + c];
      sum += v, squares += v * v, n += 1;
    }
  }
  const double mean = sum / n;
  return std::sqrt(squares / n - mean * mean) / mean;
}

n47tool::Frame firstPage(const std::string& path) {
  int width = 0, height = 0;
  return n47tool::readTiff16(path, width, height);
}

TEST(Info, NamesTheLibrariesAndReportsTheDeviceAndItsControlChannel) {
  ToolRun run = n47("info" + kOnGrabber);
  EXPECT_EQ(run.status, 0) << run.output;
  for (const char* line : {"libTavrin_N47_USB_REF.so\n", "libn47_test_grabber.so (not the simulator)\n",
                           "device:      opened\n", "temperature: 31 C", "switch codes: 1 (4x) 2 (3x) 3 (2x)"}) {
    EXPECT_TRUE(contains(run.output, line)) << line << " in\n" << run.output;
  }
  run = n47tooltest::runShell("N47_TEST_GRABBER_OPEN=-1 " + std::string(N47_TOOL_PATH) + " info" + kOnGrabber);
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(contains(run.output, "device:      did not open")) << run.output;
}

TEST(GrabberChoice, TheOptionWinsOverTheVariableAndOfflineCommandsKeepTheSimulator) {
  n47test::TempDir dir;
  const std::string tool = std::string(N47_TOOL_PATH);
  EXPECT_TRUE(contains(n47tooltest::runShell("N47_GRABBER=/no/such.so " + tool + " info" + kOnGrabber).output,
                       "(not the simulator)"));
  EXPECT_TRUE(contains(n47tooltest::runShell("N47_GRABBER=" + kGrabber + " " + tool + " info").output,
                       "(not the simulator)"));
  EXPECT_TRUE(contains(n47("info").output, "libUSB_FRM01.so (the simulator)"));
  const ToolRun offline = n47tooltest::runShell("N47_GRABBER=" + kGrabber + " " + tool + " simulate flat " +
                                                quoted(dir.file("f.raw")) + " 2>&1");
  EXPECT_EQ(offline.status, 0) << offline.output;
}

TEST_F(BadInput, AGrabberThatCannotServeIsRefusedByNameWithoutALoaderError) {
  std::ofstream(dir.file("text.so")) << "not a library";
  const std::string grabber = N47_TEST_GRABBER_PATH;
  const std::string driver = std::filesystem::path(grabber).parent_path() / "libTavrin_N47_USB_REF.so";
  const std::pair<std::string, std::string> cases[] = {
      {"info --grabber " + f("none.so"), "none.so: no such file"},
      {"info --grabber " + quoted(dir.path().string()), ": is a folder"},
      {"acquire " + f("keep.tif") + " --grabber " + f("text.so"), "text.so: cannot be loaded as a shared library"},
      {"info --grabber " + quoted(driver), "not a USB_FRM01 grabber library (it does not export OpenDAQDevice"},
      {"acquire " + f("keep.tif") + " --scene dark" + kOnGrabber, "--scene needs the simulator; the grabber " + grabber},
      {"acquire " + f("keep.tif") + " --dose 100" + kOnGrabber, "--dose needs the simulator; the grabber " + grabber},
      {"calibrate --acquire 2 --pixel-map " + f("keep.map") + " --gain-map " + f("g.map") + " --seed 3" + kOnGrabber,
       "--seed needs the simulator; the grabber " + grabber},
  };
  for (const auto& [arguments, mentions] : cases) {
    expectRefused(arguments, mentions);
    EXPECT_FALSE(contains(n47(arguments).output, "symbol")) << arguments;
  }
}

TEST(AcquireOnTheGrabber, PagesAreItsFlatsDescribedByTheGrabberWithTheRateShown) {
  n47test::TempDir dir;
  const ToolRun run = n47("acquire " + quoted(dir.file("a.tif")) + " --frames 2 --calibration-mode" + kOnGrabber);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(contains(run.output, "acquiring 2/2  ")) << run.output;
  EXPECT_TRUE(contains(run.output, " frames/s\n")) << run.output;
  EXPECT_EQ(n47tool::readTiffInfo(dir.file("a.tif")).pages, 2);
  EXPECT_TRUE(contains(n47tool::readTiffInfo(dir.file("a.tif"), 1).description,
                       "frame 2 of 2; 31 C at capture; grabber libn47_test_grabber.so; corrected: pixel map none"));
  // The planted gain pattern, untouched in calibration mode: 0.84 to 1.16 around the mean.
  EXPECT_GT(nonUniformity(firstPage(dir.file("a.tif"))), 0.05);
}

TEST(CalibrateOnTheGrabber, TheMapsMarkThePlantedClustersAndFlattenTheGainPattern) {
  n47test::TempDir dir;
  const ToolRun run = n47("calibrate --acquire 6 --pixel-map " + quoted(dir.file("p.map")) + " --gain-map " +
                          quoted(dir.file("g.map")) + " --save-flats " + quoted(dir.file("flats.tif")) + kOnGrabber);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(contains(run.output, "calibrating 6/6")) << run.output;
  EXPECT_EQ(n47tool::readTiffInfo(dir.file("flats.tif")).pages, 6);

  const n47tool::PixelMap map = n47tool::readPixelMap(dir.file("p.map"));
  long marked = 0, planted = 0;
  for (int r = 0; r < n47tool::kHeight; ++r) {
    for (int c = 0; c < n47tool::kWidth; ++c) {
      const bool isMarked = map[static_cast<std::size_t>(r) * (n47tool::kWidth + 1) + c] != 0;
      marked += isMarked;
      if (n47testgrabber::inCluster(r, c)) {
        ++planted;
        EXPECT_TRUE(isMarked) << r << ", " << c;
      }
    }
  }
  EXPECT_EQ(marked, planted) << "marks beyond the planted clusters";

  ASSERT_EQ(n47("acquire " + quoted(dir.file("c.tif")) + " --pixel-map " + quoted(dir.file("p.map")) +
                " --gain-map " + quoted(dir.file("g.map")) + kOnGrabber)
                .status,
            0);
  // What is left is the grabber's noise: +-12 counts on about 6100.
  EXPECT_LT(nonUniformity(firstPage(dir.file("c.tif"))), 0.002);
}

TEST(CalibrateOnTheSimulator, DoseAndSeedShapeTheFlats) {
  n47test::TempDir dir;
  const ToolRun run = n47("calibrate --acquire 1 --dose 3000 --seed 5 --pixel-map " + quoted(dir.file("p.map")) +
                          " --gain-map " + quoted(dir.file("g.map")) + " --save-flats " + quoted(dir.file("f.tif")));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(contains(n47tool::readTiffInfo(dir.file("f.tif")).description, "flat scene, dose 3000, seed 5"));
  // The dark level of about 100 plus the dose through the panel's shading.
  EXPECT_NEAR(n47tool::innerMedian(firstPage(dir.file("f.tif"))), 3000, 300);
}

// Runs n47 with default signal dispositions (as from a terminal), sends `signal` once the
// progress shows `progress`, and returns what it printed and its exit status.
ToolRun runAndSignal(const std::string& arguments, const std::string& progress, int signal) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    for (int s : {SIGINT, SIGTERM}) ::signal(s, SIG_DFL);
    dup2(pipeEnds[1], 1), dup2(pipeEnds[1], 2), close(pipeEnds[0]), close(pipeEnds[1]);
    execl("/bin/sh", "sh", "-c", ("exec env N47_TEST_GRABBER_FRAME_MS=40 " + std::string(N47_TOOL_PATH) + " " +
                                  arguments + kOnGrabber).c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeEnds[1]);
  ToolRun run;
  char buffer[4096];
  bool sent = false;
  for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
    run.output.append(buffer, static_cast<std::size_t>(got));
    if (!sent && contains(run.output, progress)) sent = kill(pid, signal) == 0;
  }
  close(pipeEnds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(Interrupted, AnAcquisitionKeepsTheFramesTakenAsAWholeFile) {
  for (const auto& [signal, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
    n47test::TempDir dir;
    const ToolRun run = runAndSignal("acquire " + quoted(dir.file("a.tif")) + " --frames 200", "acquiring 3/200", signal);
    EXPECT_EQ(run.status, status) << run.output;
    std::smatch taken;
    ASSERT_TRUE(std::regex_search(run.output, taken, std::regex(R"(stopped after (\d+) of 200 frames)"))) << run.output;
    EXPECT_EQ(n47tool::readTiffInfo(dir.file("a.tif")).pages, std::stoi(taken[1]));
    EXPECT_EQ(dir.names(), std::vector<std::string>{"a.tif"});
  }
}

TEST_F(BadInput, AnInterruptedCalibrationLeavesThePreviousMapsAsTheyWere) {
  const ToolRun run = runAndSignal("calibrate --acquire 200 --pixel-map " + f("keep.map") + " --gain-map " +
                                       f("keep.raw"),
                                   "calibrating 2/200", SIGINT);
  EXPECT_EQ(run.status, 130) << run.output;
  EXPECT_TRUE(contains(run.output, "the map files were left as they were")) << run.output;
  for (const char* kept : {"keep.map", "keep.raw"}) EXPECT_EQ(n47tooltest::slurp(dir.file(kept)), "existing output");
}

TEST_F(BadInput, ASeriesThatCannotFitIsRefusedBeforeTheFirstFrame) {
  const std::filesystem::space_info space = std::filesystem::space(dir.path());
  if (space.available > n47tool::tiffPagesBytes(65535)) GTEST_SKIP() << "more free space than the longest series";
  expectRefused("acquire " + f("keep.tif") + " --frames 65535" + kOnGrabber, "65535 frames need");
}

}  // namespace
