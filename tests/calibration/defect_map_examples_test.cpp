// Defect-map generation on whole frames beyond the step tests: the outlier example with its
// statistics worked out independently, promotion counted over the interior only, bands of
// columns and at both ends of the interior, map values other than 1, and properties of the
// rewritten frame and the map on random flats.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "calibration/calibration_steps.h"
#include "support/maps.h"

namespace {

constexpr int W = 2048;
constexpr int H = 1536;
constexpr int kFirst = 16;         // first interior row and column
constexpr int kLastRow = H - 17;   // 1519
constexpr int kLastCol = W - 17;   // 2031

struct Map : n47test::PixelMap {
  Map() : PixelMap(W, H) {}
};

class DefectMapFrame : public ::testing::Test {
 protected:
  DefectMapFrame() : frame(static_cast<std::size_t>(W) * H, 1000) {}
  std::uint16_t& px(int r, int c) { return frame[static_cast<std::size_t>(r) * W + c]; }
  void run() { n47::generateDefectMap(frame.data(), W, H, map.rows()); }
  bool inMargin(int r, int c) const { return r < kFirst || r > kLastRow || c < kFirst || c > kLastCol; }
  void fillMargin(std::uint16_t v) {
    for (int r = 0; r < H; ++r)
      for (int c = 0; c < W; ++c)
        if (inMargin(r, c)) px(r, c) = v;
  }
  // Marks left by earlier frames: enough interior cells to make a line defective now.
  void defectiveRow(int r) {
    for (int c = kFirst; c < kFirst + 1009; ++c) map.cells[r][c] = 1;
  }
  void defectiveColumn(int c) {
    for (int r = kFirst; r < kFirst + 753; ++r) map.cells[r][c] = 1;
  }
  std::vector<int> rowMarkers() {
    std::vector<int> marked;
    for (int r = 0; r < H; ++r)
      if (map.rowMarker(r) != 0) marked.push_back(r);
    return marked;
  }
  std::vector<int> columnMarkers() {
    std::vector<int> marked;
    for (int c = 0; c < W; ++c)
      if (map.columnMarker(c) != 0) marked.push_back(c);
    return marked;
  }
  std::vector<std::uint16_t> frame;
  Map map;
};

// ---- the outlier example -------------------------------------------------------------------

struct Stats {
  long double mean, sigma;
};

// Two-pass statistics of the interior in long double, apart from the stage's own arithmetic.
Stats interiorStats(const std::vector<std::uint16_t>& frame) {
  long double sum = 0;
  for (int r = kFirst; r <= kLastRow; ++r)
    for (int c = kFirst; c <= kLastCol; ++c) sum += frame[static_cast<std::size_t>(r) * W + c];
  const long double n = static_cast<long double>(W - 32) * (H - 32);
  const long double mean = sum / n;
  long double squares = 0;
  for (int r = kFirst; r <= kLastRow; ++r)
    for (int c = kFirst; c <= kLastCol; ++c) {
      const long double d = frame[static_cast<std::size_t>(r) * W + c] - mean;
      squares += d * d;
    }
  return {mean, std::sqrt(squares / (n - 1))};
}

TEST_F(DefectMapFrame, TheOutlierExampleHasBoundsOfAbout998_28And1001_72WhateverTheMarginHolds) {
  const std::pair<int, int> spots[] = {{100, 100}, {200, 300}, {300, 400}, {400, 500}, {500, 600}};
  const std::uint16_t values[] = {2000, 1002, 1001, 999, 998};
  const bool outlier[] = {true, true, false, false, true};
  for (int k = 0; k < 5; ++k) px(spots[k].first, spots[k].second) = values[k];
  const Stats s = interiorStats(frame);
  EXPECT_NEAR(static_cast<double>(s.mean), 1000.0003, 1e-4);
  EXPECT_NEAR(static_cast<double>(s.sigma), 0.574, 1e-3);
  EXPECT_NEAR(static_cast<double>(s.mean - 3 * s.sigma), 998.28, 0.01);
  EXPECT_NEAR(static_cast<double>(s.mean + 3 * s.sigma), 1001.72, 0.01);

  const std::vector<std::uint16_t> original = frame;
  for (std::uint16_t margin : {std::uint16_t{1000}, std::uint16_t{0}, std::uint16_t{65535}}) {
    SCOPED_TRACE(margin);
    frame = original;
    fillMargin(margin);
    map = Map();
    run();
    for (int k = 0; k < 5; ++k) {
      const auto [r, c] = spots[k];
      EXPECT_EQ(map.cells[r][c], outlier[k] ? 1 : 0) << values[k];
      EXPECT_EQ(px(r, c), outlier[k] ? 5000 : 0) << values[k];
    }
    long marked = 0, rewritten = 0;
    for (int r = 0; r < H; ++r)
      for (int c = 0; c < W; ++c) {
        marked += map.cells[r][c] != 0;
        if (inMargin(r, c)) {
          ASSERT_EQ(px(r, c), margin) << r << "," << c;
        } else {
          rewritten += px(r, c) == 5000;
        }
      }
    EXPECT_EQ(marked, 3);
    EXPECT_EQ(rewritten, 3);
  }
}

// ---- promotion of rows and columns ---------------------------------------------------------

TEST_F(DefectMapFrame, ARowOfThisFramesOwnOutliersIsPromotedAt1009But1008IsNot) {
  for (int c = kFirst; c < kFirst + 1009; ++c) px(300, c) = 5000;
  for (int c = kFirst + 5; c < kFirst + 5 + 1008; ++c) px(400, c) = 5000;
  px(300, 3) = 777;  // margin of the promoted row
  run();
  for (int c = 0; c < W; ++c) ASSERT_EQ(map.cells[300][c], 1) << c;
  EXPECT_EQ(map.cells[400][kFirst + 5], 1);
  EXPECT_EQ(map.cells[400][kFirst + 4], 0);
  EXPECT_EQ(map.cells[400][3], 0);
  EXPECT_EQ(px(300, 20), 5000);
  EXPECT_EQ(px(300, 1500), 0) << "the fill marks the map, the frame shows only outliers";
  EXPECT_EQ(px(300, 3), 777);
  EXPECT_EQ(map.rowMarker(300), 0);
}

TEST_F(DefectMapFrame, OnlyInteriorCellsCountTowardsPromotion) {
  // 1008 interior marks plus 32 marks in the margin columns: not more than half of the interior.
  for (int c = kFirst; c < kFirst + 1008; ++c) map.cells[300][c] = 1;
  for (int c = 0; c < kFirst; ++c) map.cells[300][c] = map.cells[300][W - 1 - c] = 1;
  // 752 interior marks plus 32 in the margin rows.
  for (int r = kFirst; r < kFirst + 752; ++r) map.cells[r][500] = 1;
  for (int r = 0; r < kFirst; ++r) map.cells[r][500] = map.cells[H - 1 - r][500] = 1;
  run();
  EXPECT_EQ(map.cells[300][kLastCol], 0);
  EXPECT_EQ(map.cells[kLastRow][500], 0);
}

TEST_F(DefectMapFrame, AnyNonZeroCellCountsAndIsNeverCleared) {
  for (int c = kFirst; c < kFirst + 1009; ++c) map.cells[300][c] = 200;
  map.cells[600][600] = 2;    // a good pixel now, marked 2 earlier
  map.cells[700][700] = 200;  // an outlier now: it becomes 1
  px(700, 700) = 9000;
  run();
  EXPECT_EQ(map.cells[300][kFirst], 1) << "the row is promoted and filled with 1";
  EXPECT_EQ(map.cells[300][kLastCol + 5], 1);
  EXPECT_EQ(map.cells[600][600], 2);
  EXPECT_EQ(map.cells[700][700], 1);
}

// ---- bands ----------------------------------------------------------------------------------

TEST_F(DefectMapFrame, BandsOfColumnsPutTheirMarkerOnTheMiddleColumn) {
  for (int c : {50, 51, 52}) defectiveColumn(c);               // marker on 51
  for (int c = 60; c <= 63; ++c) defectiveColumn(c);           // 61
  for (int c = 70; c <= 74; ++c) defectiveColumn(c);           // 72
  for (int c = 80; c <= 85; ++c) defectiveColumn(c);           // six: none
  for (int c : {90, 91}) defectiveColumn(c);                   // two: none
  defectiveColumn(95);                                         // one: none
  for (int c = kLastCol - 2; c <= kLastCol; ++c) defectiveColumn(c);  // closes at the last column
  run();
  EXPECT_EQ(columnMarkers(), (std::vector<int>{51, 61, 72, kLastCol - 1}));
  for (int c : {80, 85, 90, 95})
    for (int r : {0, 700, H - 1}) EXPECT_EQ(map.cells[r][c], 1) << "each defective column is still filled";
  EXPECT_EQ(map.cells[H - 1][86], 0);
}

TEST_F(DefectMapFrame, BandsStartAtTheFirstInteriorLineAndMarginLinesNeverCount) {
  // Rows and columns 12 to 18 all carry marks, but only 16 to 18 are interior lines.
  for (int r = 12; r <= 18; ++r) defectiveRow(r);
  for (int c = 12; c <= 18; ++c) defectiveColumn(c);
  run();
  EXPECT_EQ(rowMarkers(), (std::vector<int>{17}));
  EXPECT_EQ(columnMarkers(), (std::vector<int>{17}));
}

TEST_F(DefectMapFrame, ABandOfRowsEndingAtTheLastInteriorRowIsClosed) {
  for (int r = kLastRow - 4; r <= kLastRow; ++r) defectiveRow(r);  // five rows: marker on the third
  run();
  EXPECT_EQ(rowMarkers(), (std::vector<int>{kLastRow - 2}));
}

TEST_F(DefectMapFrame, MarkersOfEarlierFramesJoinTheBandWalk) {
  // Columns 100 and 102 are defective now; 101 carries a marker from an earlier frame. Rows 200
  // and 201 carry markers, row 202 is defective now: one band of three.
  defectiveColumn(100);
  defectiveColumn(102);
  map.columnMarker(101) = 1;
  map.rowMarker(200) = map.rowMarker(201) = 1;
  defectiveRow(202);
  run();
  EXPECT_EQ(columnMarkers(), (std::vector<int>{101}));
  for (int r = 0; r < H; ++r) ASSERT_EQ(map.cells[r][101], 1) << r;
  EXPECT_EQ(rowMarkers(), (std::vector<int>{200, 201}));
  for (int r = 200; r <= 202; ++r)
    for (int c = 0; c < W; ++c) ASSERT_EQ(map.cells[r][c], 1) << r << "," << c;
}

// ---- no spread ------------------------------------------------------------------------------

TEST_F(DefectMapFrame, AnInteriorOfOneValueMarksNothingAtTheEndsOfTheRange) {
  std::mt19937 rng(5);
  for (std::uint16_t v : {std::uint16_t{0}, std::uint16_t{16383}, std::uint16_t{65535}}) {
    SCOPED_TRACE(v);
    std::fill(frame.begin(), frame.end(), v);
    for (int r = 0; r < H; ++r)
      for (int c = 0; c < W; ++c)
        if (inMargin(r, c)) px(r, c) = static_cast<std::uint16_t>(rng() % 65536);
    const std::vector<std::uint16_t> before = frame;
    map = Map();
    run();
    for (int r = 0; r < H; ++r)
      for (int c = 0; c < W; ++c) {
        ASSERT_EQ(px(r, c), inMargin(r, c) ? before[static_cast<std::size_t>(r) * W + c] : 0) << r << "," << c;
        ASSERT_EQ(map.cells[r][c], 0) << r << "," << c;
      }
  }
}

// ---- random flats ---------------------------------------------------------------------------

TEST_F(DefectMapFrame, ARandomFlatIsMarkedWhereItLeavesMeanPlusMinusThreeSigma) {
  std::mt19937 rng(6);
  std::normal_distribution<double> noise(3000.0, 40.0);
  for (auto& p : frame) p = static_cast<std::uint16_t>(noise(rng));
  for (int k = 0; k < 3000; ++k) px(rng() % H, rng() % W) = static_cast<std::uint16_t>(rng() % 65536);
  // Earlier marks of any value, in the interior and the margin.
  for (int k = 0; k < 2000; ++k) map.cells[rng() % H][rng() % W] = static_cast<std::uint8_t>(1 + rng() % 255);
  const std::vector<std::uint16_t> before = frame;
  const Map earlier = map;
  const Stats s = interiorStats(frame);
  const long double lower = s.mean - 3 * s.sigma, upper = s.mean + 3 * s.sigma;
  run();
  long outliers = 0;
  for (int r = 0; r < H; ++r)
    for (int c = 0; c < W; ++c) {
      const std::uint16_t was = before[static_cast<std::size_t>(r) * W + c];
      const std::uint8_t cell = map.cells[r][c], old = earlier.cells[r][c];
      ASSERT_TRUE(cell == old || cell == 1) << "only 1 is ever written, at " << r << "," << c;
      if (inMargin(r, c)) {
        ASSERT_EQ(px(r, c), was) << r << "," << c;
        ASSERT_EQ(cell, old) << "no line was promoted, so the margin keeps its cells";
        continue;
      }
      // Values within a hair of a bound depend on the stage's own rounding; skip them.
      if (std::fabs(static_cast<double>(was - upper)) < 1e-3 || std::fabs(static_cast<double>(was - lower)) < 1e-3)
        continue;
      const bool outside = was > upper || was < lower;
      outliers += outside;
      ASSERT_EQ(px(r, c), outside ? 5000 : 0) << r << "," << c << " held " << was;
      if (outside) {
        ASSERT_EQ(cell, 1) << r << "," << c;
      }
    }
  EXPECT_GT(outliers, 1000);
  EXPECT_TRUE(rowMarkers().empty());
  EXPECT_TRUE(columnMarkers().empty());
}

}  // namespace
