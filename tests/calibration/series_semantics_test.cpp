// What a series leaves behind when the application calls Map_Calibration out of the usual
// order: repeated indices, a series that never ends, one restarted in the middle, and maps
// loaded before a series starts.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "api/detector_instance.h"
#include "n47sim/sim_control.h"
#include "support/detector_fixture.h"
#include "support/temp_dir.h"
#include "tavrin_n47.h"

namespace {

constexpr int W = 2048;
constexpr int H = 1536;
constexpr std::size_t kPixels = static_cast<std::size_t>(W) * H;

class SeriesOrder : public n47test::DetectorTest {
 protected:
  int calibrate(std::uint16_t value, int index, int count) {
    std::vector<std::uint16_t> frame(kPixels, value);
    return Map_Calibration(frame.data(), index, count);
  }
};

TEST_F(SeriesOrder, RepeatedIndicesAddEveryFrameAndTheLastDividesByCount) {
  for (int index : {0, 1, 1, 2}) ASSERT_EQ(calibrate(1100, index, 3), 1);
  EXPECT_EQ(d_->flatSum[0], 4u * 1100 / 3 - 100) << "4400 / 3 = 1466, less the offset";
  EXPECT_EQ(d_->flatSum[kPixels - 1], 1366u);
  EXPECT_EQ(d_->newGainMap[700][700], 1.0f);
}

TEST_F(SeriesOrder, ASeriesThatNeverEndsLeavesSumsAndTheOldGainMap) {
  d_->newGainMap[5][5] = 3.5f;
  ASSERT_EQ(calibrate(1100, 0, 3), 1);
  ASSERT_EQ(calibrate(1200, 1, 3), 1);
  EXPECT_EQ(d_->flatSum[12345], 2300u);
  EXPECT_EQ(d_->newGainMap[5][5], 3.5f);
}

TEST_F(SeriesOrder, IndexZeroInTheMiddleStartsAfresh) {
  std::vector<std::uint16_t> outlier(kPixels, 1000);
  outlier[static_cast<std::size_t>(400) * W + 400] = 9000;
  ASSERT_EQ(Map_Calibration(outlier.data(), 0, 3), 1);
  ASSERT_EQ(calibrate(5000, 1, 3), 1);
  ASSERT_EQ(d_->newPixelMap[400][400], 1);
  ASSERT_EQ(calibrate(1100, 0, 3), 1);
  EXPECT_EQ(d_->newPixelMap[400][400], 0) << "the restart clears the marks of the first start";
  ASSERT_EQ(calibrate(1103, 1, 3), 1);
  ASSERT_EQ(calibrate(1100, 2, 3), 1);
  EXPECT_EQ(d_->flatSum[0], 1001u) << "(1100 + 1103 + 1100) / 3 less the offset";
}

TEST_F(SeriesOrder, IndexZeroClearsLoadedMapsInEveryByte) {
  std::mt19937 rng(61);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(W + 1) * (H + 1));
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng() % 4 == 0 ? 1 + rng() % 255 : 0);
  n47test::TempDir dir;
  n47test::writeFileBytes(dir.file("p.map"), bytes);
  ASSERT_EQ(LoadPixelMap(dir.file("p.map").c_str()), 1);
  for (int r = 0; r <= H; ++r)
    for (int c = 0; c <= W; ++c) d_->newPixelMap[r][c] = static_cast<std::uint8_t>(r + c);
  ASSERT_EQ(calibrate(1000, 0, 2), 1);  // a flat frame marks nothing
  for (int r = 0; r <= H; ++r)
    for (int c = 0; c <= W; ++c) {
      ASSERT_EQ(d_->pixelMap[r][c], 0) << r << "," << c;
      ASSERT_EQ(d_->newPixelMap[r][c], 0) << r << "," << c;
    }
}

}  // namespace
