// The calibration steps on their own: averaging, the gain map and defect-map generation, with
// the worked numbers of the design and the departures (dark pixels do not wrap).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "calibration/calibration_steps.h"
#include "support/maps.h"

namespace {

constexpr int W = 2048;
constexpr int H = 1536;

using MapRows = n47test::PixelMap;

// Gains the step must overwrite.
struct GainRows : n47test::GainMap {
  GainRows(int width, int height) : GainMap(width, height, -7.0f) {}
};

// ---- averaging --------------------------------------------------------------------------

TEST(AccumulateFlatFrame, AveragesAtTheLastIndexTruncatingAndCapping) {
  std::vector<std::uint32_t> sum(4, 12345);
  const std::vector<std::uint16_t> a = {16383, 10, 65535, 0}, b = {16383, 11, 65535, 1}, c = {16383, 11, 65535, 1};
  n47::accumulateFlatFrame(sum.data(), a.data(), 2, 2, 0, 3);
  EXPECT_EQ(sum, (std::vector<std::uint32_t>{16383, 10, 65535, 0})) << "index 0 starts the sums afresh";
  n47::accumulateFlatFrame(sum.data(), b.data(), 2, 2, 1, 3);
  n47::accumulateFlatFrame(sum.data(), c.data(), 2, 2, 2, 3);
  EXPECT_EQ(sum, (std::vector<std::uint32_t>{16383, 10, 16383, 0}));
}

TEST(AccumulateFlatFrame, FiveSaturatedFramesSumExactlyAndAverageTo16383) {
  std::vector<std::uint32_t> sum(1);
  const std::vector<std::uint16_t> frame = {16383};
  for (int i = 0; i < 4; ++i) n47::accumulateFlatFrame(sum.data(), frame.data(), 1, 1, i, 5);
  EXPECT_EQ(sum[0], 4u * 16383u);
  n47::accumulateFlatFrame(sum.data(), frame.data(), 1, 1, 4, 5);
  EXPECT_EQ(sum[0], 16383u);
}

TEST(AccumulateFlatFrame, RepeatedIndicesAddEveryFrameButDivideByCount) {
  std::vector<std::uint32_t> sum(1);
  const std::vector<std::uint16_t> frame = {30};
  for (int index : {0, 1, 1, 2}) n47::accumulateFlatFrame(sum.data(), frame.data(), 1, 1, index, 3);
  EXPECT_EQ(sum[0], 40u);  // 4 x 30 / 3
}

TEST(AccumulateFlatFrame, ACountOfOneAveragesTheFrameItself) {
  std::vector<std::uint32_t> sum(2, 99);
  const std::vector<std::uint16_t> frame = {20000, 1234};
  n47::accumulateFlatFrame(sum.data(), frame.data(), 2, 1, 0, 1);
  EXPECT_EQ(sum, (std::vector<std::uint32_t>{16383, 1234}));
}

// ---- gain map ----------------------------------------------------------------------------

TEST(ComputeGainMap, AFlatOf1100GivesUnitGainEverywhere) {
  std::vector<std::uint32_t> flat(static_cast<std::size_t>(W) * H, 1100);
  GainRows gain(W, H);
  n47::computeGainMap(flat.data(), W, H, gain.rows());
  EXPECT_EQ(flat[0], 1000u);
  for (int r = 0; r < H; ++r)
    for (int c = 0; c < W; ++c) ASSERT_EQ(gain.cells[r][c], 1.0f);
}

TEST(ComputeGainMap, EachRowAddsItsMeanRoundedDown) {
  // Row 0 sums to 2048 x 1000 + 2047 and adds 1000, not 1001; the others hold 1000.
  std::vector<std::uint32_t> flat(static_cast<std::size_t>(W) * H, 1100);
  for (int c = 0; c < 2047; ++c) flat[c] = 1101;
  GainRows gain(W, H);
  n47::computeGainMap(flat.data(), W, H, gain.rows());
  EXPECT_EQ(gain.cells[5][5], 1.0f) << "the mean stays 1000";
  EXPECT_EQ(gain.cells[0][0], static_cast<float>(1000.0 / 1001.0));
  EXPECT_EQ(gain.cells[0][2047], 1.0f);
}

TEST(ComputeGainMap, GainsAreTheMeanOverTheValueRoundedToFloat) {
  std::vector<std::uint32_t> flat(static_cast<std::size_t>(W) * H, 1100);
  flat[7] = 1400;  // row 0 still sums to 2048 x 1000 after the offset
  flat[3] = 800;
  GainRows gain(W, H);
  n47::computeGainMap(flat.data(), W, H, gain.rows());
  EXPECT_EQ(gain.cells[0][7], static_cast<float>(1000.0 / 1300.0));
  EXPECT_EQ(gain.cells[0][3], static_cast<float>(1000.0 / 700.0));
}

TEST(ComputeGainMap, DarkPixelsStopAtZeroGetGainZeroAndDoNotInflateTheMean) {
  std::vector<std::uint32_t> flat(static_cast<std::size_t>(W) * H, 1100);
  flat[0] = 100;
  flat[1] = 40;
  flat[2] = 0;
  flat[3] = 99;
  GainRows gain(W, H);
  n47::computeGainMap(flat.data(), W, H, gain.rows());
  EXPECT_EQ(flat[1], 0u) << "40 less the offset is 0, not 65476";
  for (int c = 0; c < 4; ++c) EXPECT_EQ(gain.cells[0][c], 0.0f) << c;
  // Four zeros in row 0 lower its mean to 998 (2044000 / 2048 = 998.04): total 1535 x 1000 + 998.
  const float mean = static_cast<float>((1535 * 1000 + 998) / 1536);
  EXPECT_EQ(mean, 999.0f);
  EXPECT_EQ(gain.cells[4][4], static_cast<float>(999.0 / 1000.0));
}

TEST(ComputeGainMap, SumsFarBeyondFourteenBitsStillGiveUnitGainOnAUniformFlat) {
  // Row means of 2^31 - 1: a 32-bit signed total would overflow at the second row.
  std::vector<std::uint32_t> flat(4 * 4, 2147483647u + 100u);
  GainRows gain(4, 4);
  n47::computeGainMap(flat.data(), 4, 4, gain.rows());
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_EQ(gain.cells[r][c], 1.0f) << r << "," << c;
}

// ---- defect-map generation ---------------------------------------------------------------

class DefectMap : public ::testing::Test {
 protected:
  DefectMap() : frame(static_cast<std::size_t>(W) * H, 1000), map(W, H) {}
  std::uint16_t& px(int r, int c) { return frame[static_cast<std::size_t>(r) * W + c]; }
  std::uint8_t& cell(int r, int c) { return map.cells[r][c]; }
  void run() { n47::generateDefectMap(frame.data(), W, H, map.rows()); }
  void resetFrame(std::uint16_t value = 1000) { std::fill(frame.begin(), frame.end(), value); }
  int markedCells() const {
    int marked = 0;
    for (int r = 0; r < H; ++r)
      for (int c = 0; c < W; ++c) marked += map.cells[r][c] != 0;
    return marked;
  }
  std::vector<std::uint16_t> frame;
  MapRows map;
};

TEST_F(DefectMap, MarksOnlyPixelsBeyondThreeSigmaAndRewritesTheInterior) {
  px(100, 100) = 2000;
  px(200, 300) = 1002;
  px(300, 400) = 1001;
  px(400, 500) = 999;
  px(500, 600) = 998;
  px(3, 3) = 9999;  // margin: never read or written
  run();
  EXPECT_EQ(cell(100, 100), 1);
  EXPECT_EQ(cell(200, 300), 1);
  EXPECT_EQ(cell(300, 400), 0);
  EXPECT_EQ(cell(400, 500), 0);
  EXPECT_EQ(cell(500, 600), 1);
  EXPECT_EQ(markedCells(), 3);
  EXPECT_EQ(px(100, 100), 5000);
  EXPECT_EQ(px(200, 300), 5000);
  EXPECT_EQ(px(500, 600), 5000);
  EXPECT_EQ(px(300, 400), 0);
  EXPECT_EQ(px(16, 16), 0);
  EXPECT_EQ(px(1519, 2031), 0);
  EXPECT_EQ(px(3, 3), 9999);
  EXPECT_EQ(px(15, 500), 1000);
  EXPECT_EQ(px(1520, 500), 1000);
  EXPECT_EQ(px(500, 2032), 1000);
  EXPECT_EQ(cell(3, 3), 0);
}

TEST_F(DefectMap, AUniformInteriorHasNoSpreadAndMarksNothing) {
  px(0, 0) = 0;  // margin values play no part
  run();
  EXPECT_EQ(markedCells(), 0);
  EXPECT_EQ(px(500, 500), 0);
  EXPECT_EQ(px(0, 0), 0);
  EXPECT_EQ(px(0, 1), 1000);
}

TEST_F(DefectMap, ARowWithMoreThan1008MarkedCellsBecomesADefectiveRow) {
  // Marks left by an earlier frame of the series count.
  for (int c = 16; c < 16 + 1009; ++c) cell(300, c) = 1;
  for (int c = 16; c < 16 + 1008; ++c) cell(400, c) = 1;
  run();
  for (int c = 0; c < W; ++c) ASSERT_EQ(cell(300, c), 1) << c;
  EXPECT_EQ(cell(400, 2000), 0);
  EXPECT_EQ(cell(400, 3), 0);
  EXPECT_EQ(cell(300, W), 0) << "a single defective row gets no marker";
}

TEST_F(DefectMap, AColumnWithMoreThan752MarkedCellsBecomesADefectiveColumn) {
  for (int r = 16; r < 16 + 753; ++r) cell(r, 300) = 1;
  for (int r = 16; r < 16 + 752; ++r) cell(r, 400) = 1;
  run();
  for (int r = 0; r < H; ++r) ASSERT_EQ(cell(r, 300), 1) << r;
  EXPECT_EQ(cell(1500, 400), 0);
  EXPECT_EQ(cell(H, 300), 0);
}

TEST_F(DefectMap, RowFillsCountTowardsColumnsSoManyDefectiveRowsMakeEveryColumnDefective) {
  for (int r = 16; r < 16 + 753; ++r)
    for (int c = 16; c < 16 + 1009; ++c) cell(r, c) = 1;
  run();
  for (int c = 16; c < W - 16; ++c) ASSERT_EQ(cell(H - 1, c), 1) << c;
  EXPECT_EQ(cell(H - 1, 15), 0) << "margin columns are never promoted";
}

TEST_F(DefectMap, BandsOfThreeToFiveRowsGetTheirMiddleRowMarked) {
  const auto defectiveRows = [&](int first, int last) {
    for (int r = first; r <= last; ++r)
      for (int c = 16; c < 16 + 1009; ++c) cell(r, c) = 1;
  };
  defectiveRows(100, 102);
  defectiveRows(200, 203);
  defectiveRows(300, 304);
  defectiveRows(400, 405);
  defectiveRows(500, 501);
  defectiveRows(1517, 1519);
  run();
  EXPECT_EQ(cell(101, W), 1);
  EXPECT_EQ(cell(201, W), 1);
  EXPECT_EQ(cell(302, W), 1);
  EXPECT_EQ(cell(1518, W), 1) << "a band ending at the last interior row closes too";
  for (int r : {100, 102, 200, 202, 203, 300, 301, 303, 304, 500, 501, 1517, 1519}) EXPECT_EQ(cell(r, W), 0) << r;
  for (int r = 400; r <= 405; ++r) {
    EXPECT_EQ(cell(r, W), 0) << "runs of six or more get no marker";
    EXPECT_EQ(cell(r, 5), 1) << "but each row is still marked across";
  }
  for (int r = 0; r < H; ++r) EXPECT_EQ(cell(r, W), r == 101 || r == 201 || r == 302 || r == 1518) << r;
}

TEST_F(DefectMap, AMarkerFromAnEarlierFrameMakesItsRowDefectiveInLaterBandWalks) {
  // Rows 100 and 102 are defective now; row 101 carries a marker from an earlier frame.
  for (int r : {100, 102})
    for (int c = 16; c < 16 + 1009; ++c) cell(r, c) = 1;
  cell(101, W) = 1;
  run();
  EXPECT_EQ(cell(101, W), 1);
  for (int c = 0; c < W; ++c) ASSERT_EQ(cell(101, c), 1) << "the band fills its rows in full";
}

TEST_F(DefectMap, BandsOfColumnsWork) {
  for (int c = 50; c <= 53; ++c)
    for (int r = 16; r < 16 + 753; ++r) cell(r, c) = 1;
  run();
  EXPECT_EQ(cell(H, 51), 1);
  EXPECT_EQ(cell(H, 50) + cell(H, 52) + cell(H, 53), 0);
  EXPECT_EQ(cell(0, 53), 1);
}

TEST_F(DefectMap, MarksAccumulateOverASeries) {
  px(600, 600) = 3000;
  run();
  resetFrame();
  px(700, 700) = 3000;
  run();
  EXPECT_EQ(cell(600, 600), 1) << "an outlier of an earlier frame stays marked";
  EXPECT_EQ(cell(700, 700), 1);
  EXPECT_EQ(px(600, 600), 0) << "the frame shows only its own outliers";
}

TEST_F(DefectMap, MarginPixelsAreNeverMarkedOneByOne) {
  for (int c = 0; c < W; ++c) px(5, c) = 16000;
  for (int r = 0; r < H; ++r) px(r, 2040) = 0;
  run();
  EXPECT_EQ(markedCells(), 0);
}

TEST(DefectMapGeometry, FramesTooSmallOrTooLargeAreLeftAlone) {
  std::vector<std::uint16_t> small(32 * 32, 7);
  MapRows map(32, 32);
  n47::generateDefectMap(small.data(), 32, 32, map.rows());
  EXPECT_EQ(small[16 * 32 + 16], 7);
}

}  // namespace
