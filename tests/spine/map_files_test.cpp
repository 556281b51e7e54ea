// Map files through the exports: exact formats and round trips, refused loads that leave the
// active map alone, and saves that never destroy the previous file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <random>
#include <vector>

#include "api/detector_instance.h"
#include "n47sim/sim_control.h"
#include "support/detector_fixture.h"
#include "support/temp_dir.h"
#include "tavrin_n47.h"

namespace {

constexpr std::size_t kPixelMapBytes = 3149313;
constexpr std::size_t kGainMapBytes = 12582912;

class MapFiles : public n47test::DetectorTest {
 protected:

  void fillNewMapsRandomly(unsigned seed) {
    std::mt19937 rng = randomNewPixelMap(seed);
    std::uniform_real_distribution<float> gain(-2.0f, 3.0f);
    for (int r = 0; r < d_->height; ++r)
      for (int c = 0; c < d_->width; ++c) d_->newGainMap[r][c] = gain(rng);
  }

  std::vector<std::uint8_t> activePixelMap() const {
    std::vector<std::uint8_t> bytes;
    for (int r = 0; r < d_->mapHeight; ++r) bytes.insert(bytes.end(), d_->pixelMap[r], d_->pixelMap[r] + d_->mapWidth);
    return bytes;
  }
  std::vector<float> activeGainMap() const {
    std::vector<float> gains;
    for (int r = 0; r < d_->height; ++r) gains.insert(gains.end(), d_->gainMap[r], d_->gainMap[r] + d_->width);
    return gains;
  }

  n47test::TempDir dir_;
};

TEST_F(MapFiles, SavedFilesHaveTheExactRawSizes) {
  fillNewMapsRandomly(1);
  ASSERT_EQ(SavePixelMap(dir_.file("p.map").c_str()), 1);
  ASSERT_EQ(SaveGainMap(dir_.file("g.map").c_str()), 1);
  EXPECT_EQ(std::filesystem::file_size(dir_.file("p.map")), kPixelMapBytes);
  EXPECT_EQ(std::filesystem::file_size(dir_.file("g.map")), kGainMapBytes);
  EXPECT_EQ(dir_.names(), (std::vector<std::string>{"g.map", "p.map"})) << "no temporary is left behind";
}

// The temporary beside such a name would pass the system's limit of 255 bytes unless it is
// shortened; the save used to fail as if the disk were full.
TEST_F(MapFiles, NamesOfTheLongestLegalLengthsAreSaved) {
  fillNewMapsRandomly(7);
  for (const std::size_t length : {250u, 255u}) {
    const std::string pixel(length - 4, 'p'), gain(length - 4, 'g');
    ASSERT_EQ(SavePixelMap(dir_.file(pixel + ".map").c_str()), 1) << length;
    ASSERT_EQ(SaveGainMap(dir_.file(gain + ".map").c_str()), 1) << length;
    ASSERT_EQ(LoadPixelMap(dir_.file(pixel + ".map").c_str()), 1) << length;
  }
  EXPECT_EQ(dir_.names().size(), 4u) << "no temporary is left behind";
}

TEST_F(MapFiles, SaveThenLoadMakesTheActiveMapsEqualTheNewOnesByteForByte) {
  fillNewMapsRandomly(2);
  d_->newPixelMap[1536][2048] = 0xA5;  // the corner byte travels too
  ASSERT_EQ(SavePixelMap(dir_.file("p.map").c_str()), 1);
  ASSERT_EQ(SaveGainMap(dir_.file("g.map").c_str()), 1);
  ASSERT_EQ(LoadPixelMap(dir_.file("p.map").c_str()), 1);
  ASSERT_EQ(LoadGainMap(dir_.file("g.map").c_str()), 1);
  for (int r = 0; r < d_->mapHeight; ++r)
    ASSERT_EQ(std::memcmp(d_->pixelMap[r], d_->newPixelMap[r], d_->mapWidth), 0) << "row " << r;
  for (int r = 0; r < d_->height; ++r)
    ASSERT_EQ(std::memcmp(d_->gainMap[r], d_->newGainMap[r], d_->width * sizeof(float)), 0) << "row " << r;
}

TEST_F(MapFiles, FilesAreRowOrderedLittleEndianRecords) {
  d_->newPixelMap[0][2048] = 7;   // row marker of row 0: byte 2048
  d_->newPixelMap[1][0] = 9;      // record 1 starts at 2049
  d_->newPixelMap[1536][5] = 3;   // column marker 5 in the last record
  d_->newGainMap[0][0] = 1.0f;
  d_->newGainMap[1][2] = -2.5f;
  ASSERT_EQ(SavePixelMap(dir_.file("p.map").c_str()), 1);
  ASSERT_EQ(SaveGainMap(dir_.file("g.map").c_str()), 1);
  const auto pixel = n47test::readFileBytes(dir_.file("p.map"));
  ASSERT_EQ(pixel.size(), kPixelMapBytes);
  EXPECT_EQ(pixel[2048], 7);
  EXPECT_EQ(pixel[2049], 9);
  EXPECT_EQ(pixel[1536 * 2049 + 5], 3);
  const auto gain = n47test::readFileBytes(dir_.file("g.map"));
  ASSERT_EQ(gain.size(), kGainMapBytes);
  EXPECT_EQ(std::vector<std::uint8_t>(gain.begin(), gain.begin() + 4), (std::vector<std::uint8_t>{0x00, 0x00, 0x80, 0x3F}));
  const std::size_t at = (2048 + 2) * 4;  // -2.5f = 0xC0200000
  EXPECT_EQ(std::vector<std::uint8_t>(gain.begin() + at, gain.begin() + at + 4),
            (std::vector<std::uint8_t>{0x00, 0x00, 0x20, 0xC0}));
}

TEST_F(MapFiles, LoadingAGainFileOfOnesAndAHalfSetsThoseEntries) {
  std::vector<std::uint8_t> bytes(kGainMapBytes, 0);
  const float half = 0.5f;
  std::memcpy(bytes.data() + 4 * (5 * 2048 + 6), &half, 4);
  bytes[0] = 0x00, bytes[1] = 0x00, bytes[2] = 0x80, bytes[3] = 0x3F;
  n47test::writeFileBytes(dir_.file("g.map"), bytes);
  ASSERT_EQ(LoadGainMap(dir_.file("g.map").c_str()), 1);
  EXPECT_EQ(d_->gainMap[0][0], 1.0f);
  EXPECT_EQ(d_->gainMap[5][6], 0.5f);
  EXPECT_EQ(d_->gainMap[0][1], 0.0f);
}

TEST_F(MapFiles, RefusedLoadsLeaveTheActiveMapsAsTheyWere) {
  d_->pixelMap[3][4] = 2;
  d_->pixelMap[1536][100] = 1;
  d_->gainMap[7][8] = 1.25f;
  const auto pixelBefore = activePixelMap();
  const auto gainBefore = activeGainMap();

  n47test::writeFileBytes(dir_.file("empty"), {});
  n47test::writeFileBytes(dir_.file("one-pixel-row"), std::vector<std::uint8_t>(2049, 1));
  n47test::writeFileBytes(dir_.file("pixel-short"), std::vector<std::uint8_t>(kPixelMapBytes - 1, 1));
  n47test::writeFileBytes(dir_.file("pixel-long"), std::vector<std::uint8_t>(kPixelMapBytes + 1, 1));
  n47test::writeFileBytes(dir_.file("gain-short"), std::vector<std::uint8_t>(kGainMapBytes - 4, 1));
  n47test::writeFileBytes(dir_.file("gain-long"), std::vector<std::uint8_t>(kGainMapBytes + 1, 1));
  std::filesystem::create_directory(dir_.file("a-directory"));

  for (const char* name : {"empty", "one-pixel-row", "pixel-short", "pixel-long", "gain-long", "missing", "a-directory"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(LoadPixelMap(dir_.file(name).c_str()), 0);
  }
  EXPECT_EQ(LoadPixelMap(nullptr), 0);
  for (const char* name : {"empty", "pixel-short", "gain-short", "gain-long", "missing", "a-directory"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(LoadGainMap(dir_.file(name).c_str()), 0);
  }
  EXPECT_EQ(LoadGainMap(nullptr), 0);
  EXPECT_EQ(activePixelMap(), pixelBefore);
  EXPECT_EQ(activeGainMap(), gainBefore);
}

// Files that exist but cannot be read: one without read permission (refused by the system
// unless we run as root), and a regular file whose reads fail for everyone.
TEST_F(MapFiles, UnreadableFilesAreRefusedAndLeaveTheMapsAlone) {
  d_->gainMap[1][2] = 0.75f;
  const auto pixelBefore = activePixelMap();
  const std::string locked = dir_.file("locked.map");
  n47test::writeFileBytes(locked, std::vector<std::uint8_t>(kPixelMapBytes, 1));
  std::filesystem::permissions(locked, std::filesystem::perms::none);
  if (geteuid() != 0) {
    EXPECT_EQ(LoadPixelMap(locked.c_str()), 0);
  }
  EXPECT_EQ(LoadPixelMap("/proc/self/mem"), 0);  // reading at offset 0 fails with EIO
  EXPECT_EQ(LoadGainMap("/proc/self/mem"), 0);
  EXPECT_EQ(LoadPixelMap("/dev/zero"), 0) << "endless data is not a map";
  EXPECT_EQ(activePixelMap(), pixelBefore);
  EXPECT_EQ(d_->gainMap[1][2], 0.75f);
}

// Opening a FIFO for reading waits for a writer that may never come; a load must refuse it
// at once instead of hanging the application.
TEST_F(MapFiles, LoadsRefuseAFifoWithoutWaitingForAWriter) {
  const std::string fifo = dir_.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  d_->gainMap[2][3] = 1.5f;
  const auto pixelBefore = activePixelMap();
  auto load = std::async(std::launch::async, [&] { return LoadPixelMap(fifo.c_str()) + 2 * LoadGainMap(fifo.c_str()); });
  if (load.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    // Release the blocked reader so the test can end, then fail.
    while (load.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
      const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (writer >= 0) close(writer);
    }
    FAIL() << "a load blocked on the FIFO";
  }
  EXPECT_EQ(load.get(), 0);
  EXPECT_EQ(activePixelMap(), pixelBefore);
  EXPECT_EQ(d_->gainMap[2][3], 1.5f);
}

TEST_F(MapFiles, SavesThatCannotBeMadeReturnZeroAndCreateNothing) {
  EXPECT_EQ(SavePixelMap(nullptr), 0);
  EXPECT_EQ(SaveGainMap(nullptr), 0);
  EXPECT_EQ(SavePixelMap(dir_.file("no-such-dir/p.map").c_str()), 0);
  EXPECT_EQ(SaveGainMap(dir_.file("no-such-dir/g.map").c_str()), 0);
  std::filesystem::create_directory(dir_.file("a-directory"));
  EXPECT_EQ(SavePixelMap(dir_.file("a-directory").c_str()), 0);
  EXPECT_TRUE(std::filesystem::is_directory(dir_.file("a-directory")));
  EXPECT_EQ(dir_.names(), std::vector<std::string>{"a-directory"}) << "no temporary is left behind";
}

TEST_F(MapFiles, ASaveIntoAReadOnlyDirectoryLeavesThePreviousFile) {
  if (geteuid() == 0) GTEST_SKIP() << "root ignores directory permissions";
  fillNewMapsRandomly(3);
  ASSERT_EQ(SavePixelMap(dir_.file("p.map").c_str()), 1);
  const auto before = n47test::readFileBytes(dir_.file("p.map"));
  fillNewMapsRandomly(4);
  std::filesystem::permissions(dir_.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  EXPECT_EQ(SavePixelMap(dir_.file("p.map").c_str()), 0);
  std::filesystem::permissions(dir_.path(), std::filesystem::perms::owner_all);
  EXPECT_EQ(n47test::readFileBytes(dir_.file("p.map")), before);
}

// A save cut short by a file-size limit (as a full disk would) must report failure and keep
// the previous calibration file byte for byte. Run in a child: the limit is per process.
TEST_F(MapFiles, ASaveThatFailsPartWayKeepsThePreviousFileIntact) {
  fillNewMapsRandomly(5);
  const std::string pixelPath = dir_.file("p.map");
  const std::string gainPath = dir_.file("g.map");
  ASSERT_EQ(SavePixelMap(pixelPath.c_str()), 1);
  ASSERT_EQ(SaveGainMap(gainPath.c_str()), 1);
  const auto pixelBefore = n47test::readFileBytes(pixelPath);
  const auto gainBefore = n47test::readFileBytes(gainPath);
  fillNewMapsRandomly(6);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{1000000, 1000000};
    setrlimit(RLIMIT_FSIZE, &limit);
    const int pixel = SavePixelMap(pixelPath.c_str());
    const int gain = SaveGainMap(gainPath.c_str());
    _exit(pixel == 0 && gain == 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "both saves should have reported failure";
  EXPECT_EQ(n47test::readFileBytes(pixelPath), pixelBefore);
  EXPECT_EQ(n47test::readFileBytes(gainPath), gainBefore);
  EXPECT_EQ(dir_.names(), (std::vector<std::string>{"g.map", "p.map"})) << "the temporaries are removed";
}

}  // namespace
