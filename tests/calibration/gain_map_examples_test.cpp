// The gain map on whole frames: every gain of a random flat against a computation of its own,
// and the truncations of the integer mean at the row level and at the end.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "calibration/calibration_steps.h"
#include "support/maps.h"

namespace {

constexpr int W = 2048;
constexpr int H = 1536;
constexpr std::size_t kPixels = static_cast<std::size_t>(W) * H;

// Gains the step must overwrite.
struct Gains : n47test::GainMap {
  Gains() : GainMap(W, H, -7.0f) {}
};

TEST(GainMapFrame, EveryGainOfARandomFlatIsTheIntegerMeanOverTheValueRoundedToFloat) {
  std::mt19937 rng(51);
  std::vector<std::uint32_t> flat(kPixels);
  for (auto& v : flat) {
    const unsigned k = rng() % 1000;
    v = k == 0 ? rng() % 101 : k == 1 ? 16383 : 2000 + rng() % 3000;  // dark, saturated, usual
  }
  std::vector<std::uint32_t> offset(kPixels);
  for (std::size_t i = 0; i < kPixels; ++i) offset[i] = flat[i] > 100 ? flat[i] - 100 : 0;
  long long total = 0;
  for (int r = 0; r < H; ++r) {
    long long rowSum = 0;
    for (int c = 0; c < W; ++c) rowSum += offset[static_cast<std::size_t>(r) * W + c];
    total += rowSum / W;
  }
  const double mean = static_cast<float>(total / H);

  Gains gains;
  n47::computeGainMap(flat.data(), W, H, gains.rows());
  EXPECT_EQ(flat, offset) << "the flat frame is left holding its values less the offset";
  for (int r = 0; r < H; ++r)
    for (int c = 0; c < W; ++c) {
      const std::uint32_t v = offset[static_cast<std::size_t>(r) * W + c];
      ASSERT_EQ(gains.cells[r][c], v == 0 ? 0.0f : static_cast<float>(mean / v)) << r << "," << c;
    }
}

TEST(GainMapFrame, TheTotalOfRowMeansIsDividedByTheRowCountTruncating) {
  // Rows 0 to 1534 have the mean 1001 after the offset and row 1535 has 1000: a total of
  // 1537535, which divides to 1000.99 and gives the mean 1000, not 1001.
  std::vector<std::uint32_t> flat(kPixels, 1101);
  for (int c = 0; c < W; ++c) flat[static_cast<std::size_t>(H - 1) * W + c] = 1100;
  Gains gains;
  n47::computeGainMap(flat.data(), W, H, gains.rows());
  EXPECT_EQ(gains.cells[H - 1][0], 1.0f);
  EXPECT_EQ(gains.cells[0][0], static_cast<float>(1000.0 / 1001.0));
}

TEST(GainMapFrame, AveragedSeriesFeedTheGainMapWithCappedTruncatedMeans) {
  // Three frames: 10, 11, 11 average to 10 (dark: gain 0); 16383 five times would cap, here
  // three saturated frames average to 16383; the rest are 1100.
  std::vector<std::uint32_t> sum(kPixels);
  std::vector<std::uint16_t> frame(kPixels, 1100);
  for (int index = 0; index < 3; ++index) {
    frame[0] = index == 0 ? 10 : 11;
    frame[1] = 16383;
    frame[2] = static_cast<std::uint16_t>(65535 - index);
    n47::accumulateFlatFrame(sum.data(), frame.data(), W, H, index, 3);
  }
  EXPECT_EQ(sum[0], 10u);
  EXPECT_EQ(sum[1], 16383u);
  EXPECT_EQ(sum[2], 16383u) << "an average above 14 bits is capped";
  EXPECT_EQ(sum[3], 1100u);
  Gains gains;
  n47::computeGainMap(sum.data(), W, H, gains.rows());
  EXPECT_EQ(gains.cells[0][0], 0.0f);
  // Row 0 sums to 2045 x 1000 + 2 x 16283 = 2077566, a mean of 1014 (1014.4 truncated); the
  // total is 1535 x 1000 + 1014 and the mean 1000.
  EXPECT_EQ(gains.cells[0][1], static_cast<float>(1000.0 / 16283.0));
  EXPECT_EQ(gains.cells[0][3], 1.0f);
  EXPECT_EQ(gains.cells[H - 1][W - 1], 1.0f);
}

}  // namespace
