// The worked numbers of the correction rules that the stage-by-stage tests do not pin down:
// the window statistics of the impulse filter checked against its floating form over every
// 16-bit value, the line repair on the full frame geometry (last pair, edge bands, clamps, pass
// order), and the border of a whole corrected frame.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "correction/correction_pipeline.h"
#include "correction/impulse_filter/filter_impulse_noise.h"
#include "correction/defect_lines/repair_defect_lines.h"
#include "support/maps.h"

namespace {

using n47test::Frame;
using n47test::GainMap;
using n47test::PixelMap;

constexpr int W = 2048;
constexpr int H = 1536;

// ---- impulse filter: window statistics -------------------------------------------------------

// The window rule in its floating form, kept apart from the stage: the float constants 0.04 and
// 0.2 widened to double, every conversion truncating toward zero.
struct WindowStats {
  long sum, mean, deviation, lo, hi;
  bool operator==(const WindowStats&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const WindowStats& s) {
    return out << "sum " << s.sum << ", mean " << s.mean << ", D " << s.deviation << ", band " << s.lo << " .. " << s.hi;
  }
};

WindowStats windowStats(Frame& f, int r, int c) {
  const double oneTwentyFifth = static_cast<double>(0.04f);
  const double oneFifth = static_cast<double>(0.2f);
  WindowStats s{};
  for (int y = r; y < r + 5; ++y)
    for (int x = c; x < c + 5; ++x) s.sum += f.at(y, x);
  s.mean = static_cast<long>(static_cast<double>(s.sum) * oneTwentyFifth);
  for (int y = r; y < r + 5; ++y)
    for (int x = c; x < c + 5; ++x) s.deviation += std::labs(f.at(y, x) - s.mean);
  const double half = 2.0 * (static_cast<double>(s.deviation) * oneFifth);
  s.hi = static_cast<long>(static_cast<double>(s.mean) + half);
  s.lo = static_cast<long>(static_cast<double>(s.mean) - half);
  return s;
}

WindowStats statsWithCentre(std::uint16_t centre) {
  Frame f(9, 9, 1000);
  f.at(6, 6) = centre;
  return windowStats(f, 4, 4);
}

TEST(ImpulseWindow, TheWorkedSumsMeansAndBands) {
  const std::pair<std::uint16_t, WindowStats> cases[] = {
      {5000, {29000, 1159, 7657, -1903, 4221}},
      {0, {24000, 959, 1943, 181, 1736}},
      {1001, {25001, 1000, 1, 999, 1000}},
  };
  for (const auto& [centre, expected] : cases) EXPECT_EQ(statsWithCentre(centre), expected) << "centre " << centre;
  const WindowStats flat = statsWithCentre(1000);
  EXPECT_EQ(flat.mean, 999) << "25 x 1000 times the float 0.04 lies just below 1000";
  EXPECT_EQ(flat.lo, 988);
  EXPECT_EQ(flat.hi, 1009);
}

TEST(ImpulseWindow, TheTwelveByTwelveCaseSeesTheFirstReplacementInTheSecondWindow) {
  Frame f(12, 12, 1000);
  f.at(6, 6) = 5000;
  f.at(6, 7) = 2000;
  const WindowStats first = windowStats(f, 4, 4);
  EXPECT_EQ(first.mean, 1199);
  EXPECT_EQ(first.deviation, 9179);
  Frame filtered = f;
  n47::filterImpulseNoise(filtered.data(), 12, 12);
  ASSERT_EQ(filtered.at(6, 6), 1125);  // T 9000 over eight in-band neighbours
  Frame afterFirst = f;
  afterFirst.at(6, 6) = 1125;
  const WindowStats second = windowStats(afterFirst, 4, 5);
  EXPECT_EQ(second.mean, 1044);
  EXPECT_EQ(second.lo, 224);
  EXPECT_EQ(second.hi, 1863);
  EXPECT_EQ(filtered.at(6, 7), 1015);
  const WindowStats fromCopy = windowStats(f, 4, 5);
  EXPECT_GE(2000, fromCopy.lo);
  EXPECT_LE(2000, fromCopy.hi) << "read from an unchanged copy, the 2000 would have stayed";
}

// Every 16-bit value at the tested pixel, in a flat surround and in two rough ones: the stage's
// decision and replacement follow the floating form at every band edge, for negative lower
// bounds and above 14 bits alike.
TEST(ImpulseWindow, EverySixteenBitCentreIsDecidedAsTheFloatingFormSays) {
  std::mt19937 rng(21);
  for (int surround = 0; surround < 3; ++surround) {
    Frame base(9, 9, 1000);
    if (surround == 1) {
      for (auto& p : base.pixels) p = static_cast<std::uint16_t>(900 + rng() % 250);
    } else if (surround == 2) {
      for (auto& p : base.pixels) p = static_cast<std::uint16_t>(rng() % 4 == 0 ? rng() % 65536 : 30000 + rng() % 3000);
    }
    for (int v = 0; v <= 65535; ++v) {
      Frame f = base;
      f.at(6, 6) = static_cast<std::uint16_t>(v);
      const WindowStats s = windowStats(f, 4, 4);
      std::uint16_t expected = static_cast<std::uint16_t>(v);
      if (v < s.lo || v > s.hi) {
        long n = 0, t = 0;
        for (int y = 5; y <= 7; ++y)
          for (int x = 5; x <= 7; ++x) {
            if (y == 6 && x == 6) continue;
            if (f.at(y, x) >= s.lo && f.at(y, x) <= s.hi) ++n, t += f.at(y, x);
          }
        if (n >= 7) expected = static_cast<std::uint16_t>(std::min(t / n, 16383L));
      }
      n47::filterImpulseNoise(f.data(), 9, 9);
      ASSERT_EQ(f.at(6, 6), expected) << "surround " << surround << ", centre " << v;
    }
  }
}

// ---- line repair on the full frame -----------------------------------------------------------

// Markers on every band a line can fall in: 0 to 2, 3 to 9, 10, the fitted middle, and the
// last ten, on rows and columns.
void markEveryBand(PixelMap& m, int w, int h) {
  for (int r : {0, 1, 2, 3, 9, 10, 11, 12, 400, 401, h / 2, h - 11, h - 10, h - 4, h - 3, h - 2, h - 1})
    m.rowMarker(r) = 1;
  for (int c : {0, 1, 2, 3, 9, 10, 11, 700, 702, w - 11, w - 10, w - 4, w - 3, w - 2, w - 1}) m.columnMarker(c) = 1;
}

TEST(LineRepairFullFrame, AUniformFrameIsUnchangedWhateverIsMarked) {
  PixelMap m(W, H);
  markEveryBand(m, W, H);
  for (std::uint16_t v : {0, 1, 3, 8191, 16382, 16383}) {
    Frame f(W, H, v);
    n47::repairDefectLines(f.data(), W, H, m.rows());
    std::size_t changed = 0;
    for (auto p : f.pixels) changed += p != v;
    EXPECT_EQ(changed, 0u) << v;
  }
}

TEST(LineRepairFullFrame, TheLastPairOfARowReusesColumn2046AsItsThirdWindowLine) {
  // Row 15 of a 30-row frame as wide as the detector. Row 14, sample 4 across it, differs in the
  // last two columns: the last pair's profile there is (1300 + 700 + 1300) / 3 = 1100 against a
  // fit of 1000, a ratio of 1.1. A two-line mean would give 1000 and leave the 1300.
  Frame f(W, 30, 1000);
  f.at(14, 2046) = 1300;
  f.at(14, 2047) = 700;
  PixelMap m(W, 30);
  m.rowMarker(15) = 1;
  n47::repairDefectLines(f.data(), W, 30, m.rows());
  EXPECT_EQ(f.at(14, 2046), 1181);  // 1300 / 1.1
  EXPECT_EQ(f.at(14, 2047), 636);   // 700 / 1.1
  EXPECT_EQ(f.at(14, 2044), 909) << "the pair before has column 2046 as its third window line";
  EXPECT_EQ(f.at(14, 2045), 909);
  EXPECT_EQ(f.at(14, 2043), 1000);
  EXPECT_EQ(f.at(15, 2046), (1181 + 1000) / 2);
  EXPECT_EQ(f.at(15, 2047), (636 + 1000) / 2);
  EXPECT_EQ(f.at(16, 2047), 1000);
}

TEST(LineRepairFullFrame, TheLastPairOfAColumnReusesRow1534AsItsThirdWindowLine) {
  Frame f(30, H, 1000);
  f.at(1534, 16) = 1300;  // column 16 is sample 4 across column 15
  f.at(1535, 16) = 700;
  PixelMap m(30, H);
  m.columnMarker(15) = 1;
  n47::repairDefectLines(f.data(), 30, H, m.rows());
  EXPECT_EQ(f.at(1534, 16), 1181);
  EXPECT_EQ(f.at(1535, 16), 636);
  EXPECT_EQ(f.at(1532, 16), 909);
  EXPECT_EQ(f.at(1535, 15), (636 + 1000) / 2);
}

TEST(LineRepairFullFrame, EdgeColumnsCopyTheirNeighboursAndTheNearEdgeBandsStay) {
  std::mt19937 rng(31);
  Frame f(W, H, 0);
  for (auto& p : f.pixels) p = static_cast<std::uint16_t>(rng() % 65536);
  const Frame before = f;
  const auto old = [&](int r, int c) { return before.pixels[static_cast<std::size_t>(r) * W + c]; };
  PixelMap m(W, H);
  for (int c : {0, 1, 2, 3, 5, 9, W - 10, W - 8, W - 4, W - 3, W - 2, W - 1}) m.columnMarker(c) = 1;
  for (int r : {0, 2, 5, 9, H - 10, H - 1}) m.rowMarker(r) = 1;
  n47::repairDefectLines(f.data(), W, H, m.rows());
  for (int r = 0; r < H; ++r) {
    ASSERT_EQ(f.at(r, 0), old(r, 1)) << r;
    ASSERT_EQ(f.at(r, 1), old(r, 1)) << "column 1 takes column 0's new values, its own old ones";
    ASSERT_EQ(f.at(r, 2), old(r, 1)) << r;
    ASSERT_EQ(f.at(r, W - 3), old(r, W - 4)) << r;
    ASSERT_EQ(f.at(r, W - 2), old(r, W - 4)) << r;
    ASSERT_EQ(f.at(r, W - 1), old(r, W - 4)) << r;
  }
  // Copies carry values above 14 bits as they are; every other pixel is untouched.
  for (int r = 0; r < H; ++r)
    for (int c = 3; c < W - 3; ++c) ASSERT_EQ(f.at(r, c), old(r, c)) << r << "," << c;
}

TEST(LineRepairFullFrame, RowsAreRepairedBeforeColumnsAndEachFromTheFrameAsLeft) {
  std::mt19937 rng(32);
  Frame f(W, H, 0);
  for (auto& p : f.pixels) p = static_cast<std::uint16_t>(700 + rng() % 900);
  PixelMap m(W, H);
  m.rowMarker(500) = m.rowMarker(501) = 1;
  m.columnMarker(800) = m.columnMarker(802) = 1;
  Frame expected = f;
  n47::repairRow(expected.data(), W, H, 500);
  n47::repairRow(expected.data(), W, H, 501);
  n47::repairColumn(expected.data(), W, H, 800);
  n47::repairColumn(expected.data(), W, H, 802);
  Frame columnsFirst = f;
  n47::repairColumn(columnsFirst.data(), W, H, 800);
  n47::repairColumn(columnsFirst.data(), W, H, 802);
  n47::repairRow(columnsFirst.data(), W, H, 500);
  n47::repairRow(columnsFirst.data(), W, H, 501);
  Frame descending = f;
  n47::repairRow(descending.data(), W, H, 501);
  n47::repairRow(descending.data(), W, H, 500);
  n47::repairColumn(descending.data(), W, H, 802);
  n47::repairColumn(descending.data(), W, H, 800);
  n47::repairDefectLines(f.data(), W, H, m.rows());
  EXPECT_EQ(f.pixels, expected.pixels);
  EXPECT_NE(f.pixels, columnsFirst.pixels);
  EXPECT_NE(f.pixels, descending.pixels);
}

TEST(LineRepair, RescaledZerosStayZeroAndTheLineIsTheirNeighboursMean) {
  std::mt19937 rng(33);
  Frame f(40, 40, 0);
  for (auto& p : f.pixels) p = static_cast<std::uint16_t>(900 + rng() % 200);
  for (int c : {0, 5, 6, 17, 38, 39}) f.at(19, c) = 0;
  for (int c : {5, 22}) f.at(21, c) = 0;
  PixelMap m(40, 40);
  m.rowMarker(20) = 1;
  n47::repairDefectLines(f.data(), 40, 40, m.rows());
  for (int c : {0, 5, 6, 17, 38, 39}) EXPECT_EQ(f.at(19, c), 0) << c;
  for (int c : {5, 22}) EXPECT_EQ(f.at(21, c), 0) << c;
  EXPECT_EQ(f.at(20, 5), 0);
  for (int c = 0; c < 40; ++c) EXPECT_EQ(f.at(20, c), (f.at(19, c) + f.at(21, c)) / 2) << c;
}

TEST(LineRepair, AZeroOuterProfileWithAZeroHoleValueStoresZeroNotGarbage) {
  // Outer rows all 0: the fit is 0, the ratios 10 x the profile. Row 11 (sample 4) is 0 too, so
  // its ratio is 0 and each of its pixels is 0 / 0.
  Frame f(30, 24, 0);
  for (int c = 0; c < 30; ++c) {
    f.at(12, c) = 16383;
    f.at(13, c) = static_cast<std::uint16_t>(c * 500);
  }
  PixelMap m(30, 24);
  m.rowMarker(12) = 1;
  n47::repairDefectLines(f.data(), 30, 24, m.rows());
  for (int r = 0; r < 24; ++r)
    for (int c = 0; c < 30; ++c) ASSERT_EQ(f.at(r, c), 0) << r << "," << c;
}

TEST(LineRepair, ABrightSurroundOfADarkLineIsLimitedTo14BitsNotWrapped) {
  // Calibration mode lets values above 14 bits reach the repair. Outer rows of 60000 fit 60000;
  // the three hole rows of 100 give ratios of 1/600, so each rescaled pixel would be 60000.
  Frame f(30, 30, 60000);
  for (int r = 14; r <= 16; ++r)
    for (int c = 0; c < 30; ++c) f.at(r, c) = 100;
  PixelMap m(30, 30);
  m.rowMarker(15) = 1;
  n47::repairDefectLines(f.data(), 30, 30, m.rows());
  for (int c = 0; c < 30; ++c) {
    EXPECT_EQ(f.at(14, c), 16383) << c;
    EXPECT_EQ(f.at(15, c), 16383) << c;
    EXPECT_EQ(f.at(16, c), 16383) << c;
    EXPECT_EQ(f.at(13, c), 60000) << "samples that are only read keep their value";
    EXPECT_EQ(f.at(17, c), 60000);
  }
}

// ---- the border of a whole corrected frame ---------------------------------------------------

TEST(CorrectedFullFrame, TheBorderIsTheLastWordAndTheInsideKeepsWhatTheStagesGaveIt) {
  std::mt19937 rng(34);
  Frame f(W, H, 0);
  for (auto& p : f.pixels) p = static_cast<std::uint16_t>(rng() % 200 == 0 ? rng() % 16384 : 1000 + rng() % 50);
  PixelMap m(W, H);
  m.rowMarker(30) = m.rowMarker(1520) = 1;
  m.columnMarker(0) = m.columnMarker(25) = m.columnMarker(2030) = 1;
  for (int c = 10; c < 40; ++c) m.cell(21, c) = 1;
  const GainMap unit(W, H, 1.0f);
  // With unit gain and no value above 14 bits, the calibration-mode result is the normal one
  // before the border mask.
  Frame unmasked = f;
  n47::correctFrame(n47::literalKernels(), unmasked.data(), W, H, m.rows(), unit.rows(), true);
  n47::correctFrame(n47::literalKernels(), f.data(), W, H, m.rows(), unit.rows(), false);
  EXPECT_EQ(f.at(19, 1000), 16383);
  EXPECT_EQ(f.at(1516, 0), 16383);
  EXPECT_EQ(f.at(700, 2028), 16383);
  EXPECT_EQ(f.at(20, 20), unmasked.at(20, 20));
  for (int r = 0; r < H; ++r)
    for (int c = 0; c < W; ++c) {
      const bool border = r < 20 || r >= H - 20 || c < 20 || c >= W - 20;
      ASSERT_EQ(f.at(r, c), border ? 16383 : unmasked.at(r, c)) << r << "," << c;
    }
}

}  // namespace
