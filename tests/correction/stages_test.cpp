// Each correction stage on the small frames of its worked examples, and the properties that
// catch real faults: uniform frames stay uniform, nothing is written outside a stage's reach,
// and values above 14 bits are kept, limited or passed on as each stage defines.
#include <gtest/gtest.h>

#include <array>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "correction/gain/apply_gain_map.h"
#include "correction/impulse_filter/filter_impulse_noise.h"
#include "correction/border_mask/mask_border.h"
#include "correction/pixel_repairs/pixel_repairs.h"
#include "correction/defect_lines/repair_defect_lines.h"
#include "support/maps.h"

namespace {

using n47test::Frame;
using n47test::GainMap;
using n47test::PixelMap;

// ---- impulse-noise filter ------------------------------------------------------------------

std::uint16_t filteredCentre(std::initializer_list<std::tuple<int, int, std::uint16_t>> pixels, int r = 6, int c = 6) {
  Frame f(9, 9, 1000);
  for (auto [y, x, v] : pixels) f.at(y, x) = v;
  n47::filterImpulseNoise(f.data(), 9, 9);
  return f.at(r, c);
}

TEST(ImpulseFilter, ReplacesAnIsolatedOutlierByItsNeighboursMean) {
  EXPECT_EQ(filteredCentre({{6, 6, 5000}}), 1000);  // S 29000, m 1159, D 7657, band -1903..4221
  EXPECT_EQ(filteredCentre({{6, 6, 0}}), 1000);     // S 24000, m 959, D 1943, band 181..1736
}

TEST(ImpulseFilter, ADeviationOfOneCountFromAFlatSurroundIsRemoved) {
  EXPECT_EQ(filteredCentre({{6, 6, 1001}}), 1000);  // S 25001, m 1000, D 1, band 999..1000
}

TEST(ImpulseFilter, OnlyTheInnerPixelsAreTested) {
  EXPECT_EQ(filteredCentre({{4, 4, 5000}}, 4, 4), 5000);
}

TEST(ImpulseFilter, AClusterWidensTheBandAndSurvives) {
  EXPECT_EQ(filteredCentre({{6, 6, 5000}, {5, 5, 5000}, {5, 6, 5000}}), 5000);
}

TEST(ImpulseFilter, ReplacedPixelsTakePartInLaterWindowsOfTheSamePass) {
  Frame f(12, 12, 1000);
  f.at(6, 6) = 5000;
  f.at(6, 7) = 2000;
  n47::filterImpulseNoise(f.data(), 12, 12);
  EXPECT_EQ(f.at(6, 6), 1125);  // m 1199, D 9179, T 9000
  EXPECT_EQ(f.at(6, 7), 1015);  // band 224..1863 around m 1044 once the 5000 is 1125
}

TEST(ImpulseFilter, AReplacementAbove14BitsIsLimited) {
  Frame f(9, 9, 30000);
  f.at(6, 6) = 0;
  n47::filterImpulseNoise(f.data(), 9, 9);
  EXPECT_EQ(f.at(6, 6), 16383);
}

TEST(ImpulseFilter, UniformFramesAndTooSmallFramesAreLeftAlone) {
  for (std::uint16_t v : {0, 1, 1000, 16383, 65535}) {
    Frame f(20, 15, v);
    n47::filterImpulseNoise(f.data(), 20, 15);
    EXPECT_EQ(f.pixels, Frame(20, 15, v).pixels) << v;
  }
  for (auto [w, h] : {std::pair{8, 20}, std::pair{20, 8}, std::pair{1, 1}}) {
    Frame f(w, h, 1000);
    for (auto& p : f.pixels) p = static_cast<std::uint16_t>(&p - f.pixels.data()) * 97;
    const auto before = f.pixels;
    n47::filterImpulseNoise(f.data(), w, h);
    EXPECT_EQ(f.pixels, before) << w << "x" << h;
  }
}

TEST(ImpulseFilter, NeverWritesOutsideRowsAndColumns6ToTheThirdLast) {
  std::mt19937 rng(1);
  Frame f(40, 30, 0);
  for (auto& p : f.pixels) p = static_cast<std::uint16_t>(rng() % 30 == 0 ? rng() % 65536 : 1000 + rng() % 5);
  const Frame before = f;
  n47::filterImpulseNoise(f.data(), 40, 30);
  int changed = 0;
  for (int r = 0; r < 30; ++r) {
    for (int c = 0; c < 40; ++c) {
      const bool inside = r >= 6 && r <= 27 && c >= 6 && c <= 37;
      if (!inside) {
        ASSERT_EQ(f.at(r, c), before.pixels[r * 40 + c]) << r << "," << c;
      }
      changed += f.at(r, c) != before.pixels[r * 40 + c];
    }
  }
  EXPECT_GT(changed, 0);
}

// ---- code-2 repair ---------------------------------------------------------------------------

// Each {row, column, value}: the frame holds that value there.
void expectPixels(const Frame& f, std::initializer_list<std::array<int, 3>> expected) {
  for (const auto& [r, c, v] : expected) EXPECT_EQ(f.at(r, c), v) << "at " << r << "," << c;
}

TEST(Code2Repair, FillsFromTheTopLeftBlockUsingPixelsRepairedBefore) {
  Frame f(6, 5, 0);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) f.at(y, x) = static_cast<std::uint16_t>(100 * y + x);
  PixelMap m(6, 5);
  m.cell(2, 2) = m.cell(2, 3) = m.cell(3, 3) = 2;
  n47::repairCode2Pixels(f.data(), 6, 5, m.rows());
  expectPixels(f, {{2, 2, 88}, {2, 3, 75}, {3, 3, 159}});
}

TEST(Code2Repair, SkipsRowAndColumnOneButRepairsTheLastRowAndColumn) {
  Frame f(8, 7, 1000);
  PixelMap m(8, 7);
  for (auto [r, c] : {std::pair{1, 4}, std::pair{4, 1}, std::pair{6, 4}, std::pair{4, 7}}) {
    f.at(r, c) = 0;
    m.cell(r, c) = 2;
  }
  f.at(3, 3) = 0;
  m.cell(3, 3) = 2;
  n47::repairCode2Pixels(f.data(), 8, 7, m.rows());
  expectPixels(f, {{1, 4, 0}, {4, 1, 0}, {6, 4, 1000}, {4, 7, 1000}, {3, 3, 1000}});
}

TEST(Code2Repair, OnlyCodeTwoIsRepairedAndNothingIsClamped) {
  Frame f(5, 5, 40000);
  PixelMap m(5, 5);
  m.cell(3, 3) = 1;
  m.cell(4, 4) = 2;
  f.at(3, 3) = f.at(4, 4) = 7;
  n47::repairCode2Pixels(f.data(), 5, 5, m.rows());
  EXPECT_EQ(f.at(3, 3), 7);
  EXPECT_EQ(f.at(4, 4), (7 * 40000 + 7) / 8) << "the block's other marked pixel enters the sum";
}

// ---- defect-pixel repair ---------------------------------------------------------------------

// The defect-pixel repair of a 5 x 5 frame; what its centre holds afterwards.
std::uint16_t repairedCentre(Frame& f, const PixelMap& m) {
  n47::repairDefectPixels(f.data(), 5, 5, m.rows());
  return f.at(2, 2);
}

TEST(DefectPixelRepair, TakesTheMeanOfGoodNeighboursWithoutClampingTheirValues) {
  Frame f(5, 5, 1000);
  PixelMap m(5, 5);
  f.at(2, 2) = 9999;
  m.cell(2, 2) = 1;
  f.at(1, 1) = 40000;
  EXPECT_EQ(repairedCentre(f, m), 5875);
}

TEST(DefectPixelRepair, APixelWithoutGoodNeighboursKeepsItsValueLimitedTo14Bits) {
  Frame f(5, 5, 1000);
  PixelMap m(5, 5);
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 3; ++c) m.cell(r, c) = 3;
  f.at(2, 2) = 20000;
  EXPECT_EQ(repairedCentre(f, m), 16383);
}

TEST(DefectPixelRepair, MarkedNeighboursOfAnyCodeAreLeftOutOfTheMean) {
  Frame f(5, 5, 0);
  PixelMap m(5, 5);
  const std::uint16_t values[3][3] = {{10, 20, 30}, {40, 999, 60}, {70, 80, 90}};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) f.at(1 + r, 1 + c) = values[r][c];
  m.cell(2, 2) = 1;
  m.cell(1, 1) = 5;
  m.cell(3, 3) = 2;
  EXPECT_EQ(repairedCentre(f, m), (20 + 30 + 40 + 60 + 70 + 80) / 6);
}

TEST(DefectPixelRepair, TheOutermostRingIsNeverRepairedAndAZeroMapChangesNothing) {
  Frame f(6, 6, 500);
  PixelMap m(6, 6);
  m.cell(0, 3) = m.cell(5, 3) = m.cell(3, 0) = m.cell(3, 5) = 1;
  f.at(0, 3) = f.at(5, 3) = f.at(3, 0) = f.at(3, 5) = 20000;
  const auto before = f.pixels;
  n47::repairDefectPixels(f.data(), 6, 6, m.rows());
  EXPECT_EQ(f.pixels, before);
  PixelMap zero(6, 6);
  n47::repairDefectPixels(f.data(), 6, 6, zero.rows());
  n47::repairCode2Pixels(f.data(), 6, 6, zero.rows());
  EXPECT_EQ(f.pixels, before);
}

TEST(DefectPixelRepair, ACodeTwoPixelIsRepairedAgainAndTheLaterRepairDecides) {
  Frame f(6, 6, 1000);
  PixelMap m(6, 6);
  f.at(3, 3) = 0;
  f.at(2, 2) = 4000;  // in the code-2 block, not in the later mean once marked
  m.cell(3, 3) = 2;
  m.cell(2, 2) = 1;
  n47::repairCode2Pixels(f.data(), 6, 6, m.rows());
  EXPECT_EQ(f.at(3, 3), (7 * 1000 + 4000) / 8);
  n47::repairDefectPixels(f.data(), 6, 6, m.rows());
  EXPECT_EQ(f.at(3, 3), 1000);
}

// ---- gain ------------------------------------------------------------------------------------

TEST(GainCorrection, WorkedValues) {
  EXPECT_EQ(n47::gainCorrectedPixel(1100, 1.5f), 1600);
  EXPECT_EQ(n47::gainCorrectedPixel(1000, 0.9f), 909) << "0.9f lies below 0.9 and the result truncates";
  EXPECT_EQ(n47::gainCorrectedPixel(1000, 1.1f), 1090);
  EXPECT_EQ(n47::gainCorrectedPixel(1101, 0.5f), 600);
  EXPECT_EQ(n47::gainCorrectedPixel(50, 2.0f), 0);
  EXPECT_EQ(n47::gainCorrectedPixel(40, 2.0f), 0);
  EXPECT_EQ(n47::gainCorrectedPixel(16000, 1.1f), 16383);
  EXPECT_EQ(n47::gainCorrectedPixel(20000, 1.0f), 16383);
  EXPECT_EQ(n47::gainCorrectedPixel(1234, 1.0f), 1234);
}

TEST(GainCorrection, InfiniteAndNotANumberGains) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(n47::gainCorrectedPixel(101, inf), 16383);
  EXPECT_EQ(n47::gainCorrectedPixel(99, inf), 0);
  EXPECT_EQ(n47::gainCorrectedPixel(100, inf), 0) << "0 x inf is not a number";
  EXPECT_EQ(n47::gainCorrectedPixel(101, -inf), 0);
  EXPECT_EQ(n47::gainCorrectedPixel(5000, nan), 0);
  EXPECT_EQ(n47::gainCorrectedPixel(5000, 0.0f), 100);
  EXPECT_EQ(n47::gainCorrectedPixel(5000, -0.0f), 100);
  EXPECT_EQ(n47::gainCorrectedPixel(5000, -1.0f), 0);
}

TEST(GainCorrection, TheMapIsAppliedPixelByPixel) {
  Frame f(3, 2, 1100);
  GainMap g(3, 2, 1.0f);
  g.cells[1][2] = 1.5f;
  g.cells[0][1] = 0.5f;
  n47::applyGainMap(f.data(), 3, 2, g.rows());
  EXPECT_EQ(f.pixels, (std::vector<std::uint16_t>{1100, 600, 1100, 1100, 1100, 1600}));
}

// ---- border mask -----------------------------------------------------------------------------

TEST(BorderMask, SetsTheOuterTwentyRowsAndColumnsOfTheFullFrame) {
  Frame f(2048, 1536, 7);
  n47::maskBorder(f.data(), 2048, 1536);
  EXPECT_EQ(f.at(19, 1000), 16383);
  EXPECT_EQ(f.at(1516, 0), 16383);
  EXPECT_EQ(f.at(700, 2028), 16383);
  EXPECT_EQ(f.at(0, 0), 16383);
  EXPECT_EQ(f.at(1535, 2047), 16383);
  EXPECT_EQ(f.at(20, 20), 7);
  EXPECT_EQ(f.at(1515, 2027), 7);
  EXPECT_EQ(f.at(700, 19), 16383);
  EXPECT_EQ(f.at(700, 20), 7);
  long masked = 0;
  for (auto p : f.pixels) masked += p == 16383;
  EXPECT_EQ(masked, 2048L * 1536 - 2008L * 1496);
}

// A frame with sentinels before and after it, to see writes that miss the frame.
struct GuardedFrame {
  static constexpr std::size_t kGuard = 64;
  static constexpr std::uint16_t kSentinel = 4321;
  GuardedFrame(int w, int h, std::uint16_t value)
      : storage(kGuard + static_cast<std::size_t>(w) * h + kGuard, kSentinel) {
    std::fill(storage.begin() + kGuard, storage.end() - kGuard, value);
  }
  std::uint16_t* data() { return storage.data() + kGuard; }
  bool guardsIntact() const {
    for (std::size_t i = 0; i < kGuard; ++i)
      if (storage[i] != kSentinel || storage[storage.size() - 1 - i] != kSentinel) return false;
    return true;
  }
  std::vector<std::uint16_t> storage;
};

TEST(BorderMask, FramesWithinTheBandsAreMaskedWhollyWithoutWritingAroundThem) {
  for (auto [w, h] : {std::pair{1, 1}, {5, 3}, {39, 39}, {3, 50}, {50, 3}, {0, 7}, {7, 0}}) {
    SCOPED_TRACE(testing::Message() << w << " x " << h);
    GuardedFrame f(w, h, 7);
    n47::maskBorder(f.data(), w, h);
    EXPECT_TRUE(f.guardsIntact());
    for (int i = 0; i < w * h; ++i) ASSERT_EQ(f.data()[i], 16383) << i;
  }
  GuardedFrame f(41, 41, 7);
  n47::maskBorder(f.data(), 41, 41);
  EXPECT_TRUE(f.guardsIntact());
  EXPECT_EQ(f.data()[20 * 41 + 20], 7) << "the one pixel 20 away from every edge";
  EXPECT_EQ(f.data()[19 * 41 + 20], 16383);
}

// ---- defect lines ----------------------------------------------------------------------------

TEST(DefectLines, AUniformFrameStaysUniformWhateverIsMarked) {
  for (std::uint16_t v : {0, 1, 2, 7, 100, 1000, 4095, 12345, 16382, 16383}) {
    Frame f(64, 48, v);
    PixelMap m(64, 48);
    for (int r : {0, 5, 10, 11, 12, 20, 37, 38, 40, 47}) m.rowMarker(r) = 1;
    for (int c : {0, 1, 2, 5, 10, 30, 31, 53, 60, 61, 62, 63}) m.columnMarker(c) = 1;
    n47::repairDefectLines(f.data(), 64, 48, m.rows());
    EXPECT_EQ(f.pixels, Frame(64, 48, v).pixels) << v;
  }
}

TEST(DefectLines, LinesInTheUnfittedBandAreLeftAlone) {
  std::mt19937 rng(3);
  Frame f(2048, 1536, 0);
  for (auto& p : f.pixels) p = static_cast<std::uint16_t>(rng() % 16384);
  const auto before = f.pixels;
  PixelMap m(2048, 1536);
  for (int r : {5, 9, 1526, 1530}) m.rowMarker(r) = 1;
  for (int c : {3, 5, 9, 2038, 2040, 2044}) m.columnMarker(c) = 1;
  n47::repairDefectLines(f.data(), 2048, 1536, m.rows());
  EXPECT_EQ(f.pixels, before);
}

// 32 x 24 pixels of 100 r + c: every pixel tells where it came from.
Frame rampFrame() {
  Frame f(32, 24, 0);
  for (int r = 0; r < 24; ++r)
    for (int c = 0; c < 32; ++c) f.at(r, c) = static_cast<std::uint16_t>(100 * r + c);
  return f;
}

TEST(DefectLines, EdgeColumnsCopyTheirNeighbourInScanOrder) {
  Frame f = rampFrame();
  const Frame before = f;
  PixelMap m(32, 24);
  m.columnMarker(0) = m.columnMarker(1) = 1;
  m.columnMarker(31) = 1;
  m.columnMarker(29) = 1;
  n47::repairDefectLines(f.data(), 32, 24, m.rows());
  for (int r = 0; r < 24; ++r) {
    EXPECT_EQ(f.at(r, 0), before.pixels[r * 32 + 1]) << "column 0 takes column 1's old values";
    EXPECT_EQ(f.at(r, 1), before.pixels[r * 32 + 1]) << "column 1 then takes them back";
    EXPECT_EQ(f.at(r, 29), before.pixels[r * 32 + 28]);
    EXPECT_EQ(f.at(r, 31), before.pixels[r * 32 + 30]);
  }
}

TEST(DefectLines, ANarrowFrameWithItsEdgeColumnsMarkedStaysInsideIt) {
  for (int w : {1, 2, 3}) {
    SCOPED_TRACE(w);
    GuardedFrame f(w, 6, 0);
    for (int i = 0; i < w * 6; ++i) f.data()[i] = static_cast<std::uint16_t>(100 + i);
    const std::vector<std::uint16_t> before(f.data(), f.data() + w * 6);
    PixelMap m(w, 6);
    for (int c = 0; c < w; ++c) m.columnMarker(c) = 1;
    n47::repairDefectLines(f.data(), w, 6, m.rows());
    EXPECT_TRUE(f.guardsIntact());
    if (w == 1) {
      EXPECT_EQ(std::vector<std::uint16_t>(f.data(), f.data() + 6), before) << "no column 1 to copy from";
    } else {
      for (int r = 0; r < 6; ++r) EXPECT_EQ(f.data()[r * w], before[r * w + 1]) << r;
    }
  }
}

TEST(DefectLines, ColumnsTwoAndOneChainTheirCopies) {
  Frame f = rampFrame();
  const Frame before = f;
  PixelMap m(32, 24);
  m.columnMarker(1) = m.columnMarker(2) = 1;
  n47::repairDefectLines(f.data(), 32, 24, m.rows());
  for (int r = 0; r < 24; ++r) EXPECT_EQ(f.at(r, 2), before.pixels[r * 32 + 0]);
}

TEST(DefectLines, ARepairedRowIsTheFlooredMeanOfItsRescaledNeighbours) {
  std::mt19937 rng(4);
  Frame f(64, 48, 0);
  for (auto& p : f.pixels) p = static_cast<std::uint16_t>(800 + rng() % 400);
  PixelMap m(64, 48);
  m.rowMarker(20) = 1;
  n47::repairDefectLines(f.data(), 64, 48, m.rows());
  for (int c = 0; c < 64; ++c) EXPECT_EQ(f.at(20, c), (f.at(19, c) + f.at(21, c)) / 2) << c;
}

TEST(DefectLines, OnlyTheLineAndItsTwoNeighboursChange) {
  std::mt19937 rng(5);
  Frame f(64, 48, 0);
  for (auto& p : f.pixels) p = static_cast<std::uint16_t>(rng() % 20000);
  const Frame before = f;
  PixelMap m(64, 48);
  m.columnMarker(30) = 1;
  n47::repairDefectLines(f.data(), 64, 48, m.rows());
  for (int r = 0; r < 48; ++r)
    for (int c = 0; c < 64; ++c) {
      if (c >= 29 && c <= 31) {
        ASSERT_LE(f.at(r, c), 16383) << "every written pixel is limited";
      } else {
        ASSERT_EQ(f.at(r, c), before.pixels[r * 64 + c]) << r << "," << c;
      }
    }
}

TEST(DefectLines, ZeroOuterProfileMakesTheRescaledPixelsZero) {
  Frame f(30, 24, 0);
  for (int c = 0; c < 30; ++c) {
    f.at(11, c) = 500;
    f.at(12, c) = 9000;
    f.at(13, c) = 700;
  }
  PixelMap m(30, 24);
  m.rowMarker(12) = 1;
  n47::repairDefectLines(f.data(), 30, 24, m.rows());
  for (int c = 0; c < 30; ++c) {
    EXPECT_EQ(f.at(11, c), 0);
    EXPECT_EQ(f.at(12, c), 0);
    EXPECT_EQ(f.at(13, c), 0);
  }
}

TEST(DefectLines, TheLastPairCountsItsFirstWindowLineTwice) {
  // Column 15 of a 24-row frame; its left neighbour differs in the last two rows. The last
  // pair (rows 22, 23) has no third window line and reuses row 22, so the neighbour's profile
  // is (1300 + 700 + 1300) / 3 = 1100 against a fit of 1000: ratio 1.1.
  Frame f(30, 24, 1000);
  f.at(22, 14) = 1300;
  f.at(23, 14) = 700;
  PixelMap m(30, 24);
  m.columnMarker(15) = 1;
  n47::repairDefectLines(f.data(), 30, 24, m.rows());
  EXPECT_EQ(f.at(22, 14), 1181);  // 1300 / 1.1
  EXPECT_EQ(f.at(23, 14), 636);   // 700 / 1.1
  EXPECT_EQ(f.at(22, 15), (1181 + 1000) / 2);
  EXPECT_EQ(f.at(23, 15), (636 + 1000) / 2);
  EXPECT_EQ(f.at(21, 14), 909) << "the pair before sees row 22 as its third window line";
}

TEST(LineFit, FitsThroughTheInterceptWithTheSlopeOfTheOuterSamples) {
  const int t[7] = {-3, -2, -1, 0, 1, 2, 3};
  const double profile[7] = {10, 20, 999, 999, 999, 60, 70};
  double fitted[7];
  n47::fitLine(fitted, profile, 7, 1, 40.0, t);
  const double slope = (-3 * 10.0 - 2 * 20.0 + 2 * 60.0 + 3 * 70.0) / 26;
  for (int i = 0; i < 7; ++i) EXPECT_EQ(fitted[i], t[i] * slope + 40.0);
  double ratios[3];
  const double zeroFit[7] = {1, 1, 0, -0.0, 4, 1, 1};
  n47::profileRatios(ratios, zeroFit, profile, 7, 1);
  EXPECT_EQ(ratios[0], 9990.0);
  EXPECT_EQ(ratios[1], 9990.0);
  EXPECT_EQ(ratios[2], 999.0 / 4);
}

}  // namespace
