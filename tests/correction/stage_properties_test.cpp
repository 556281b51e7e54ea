// Properties of every stage on seeded random and adversarial inputs: uniform frames are fixed
// points, nothing is written outside a stage's reach, values above 14 bits are kept, limited or
// passed on as each stage defines, the stage order shows in the result, and small frames of
// many shapes are corrected exactly as the independent reference corrects them.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <random>

#include "correction/gain/apply_gain_map.h"
#include "correction/correction_pipeline.h"
#include "correction/impulse_filter/filter_impulse_noise.h"
#include "correction/border_mask/mask_border.h"
#include "correction/pixel_repairs/pixel_repairs.h"
#include "correction/defect_lines/repair_defect_lines.h"
#include "support/reference_pipeline.h"
#include "support/maps.h"
#include "support/scene.h"
#include "support/stage_order.h"

namespace {

using n47test::Frame;
using n47test::GainMap;
using n47test::PixelMap;

constexpr float kInf = std::numeric_limits<float>::infinity();
const float kSpecialGains[] = {1.0f,  0.0f,  -0.0f, -1.5f, std::numeric_limits<float>::quiet_NaN(), kInf, -kInf,
                               1e-40f, -1e-40f, std::numeric_limits<float>::denorm_min(),
                               std::numeric_limits<float>::max(), 0.9f, 3.0f};

const std::pair<int, int> kShapes[] = {{21, 21}, {22, 25}, {33, 47}, {47, 33}, {40, 30}, {64, 48}, {25, 61}};

using n47test::Scene;

// A frame, pixel map and gain map built to give every stage something awkward to do.
Scene awkwardScene(int w, int h, unsigned seed) {
  Scene scene(w, h);
  Frame& frame = scene.frame;
  n47test::PixelMap& map = scene.map;
  n47test::GainMap& gain = scene.gain;
  std::mt19937 rng(seed);
  for (auto& p : frame.pixels) {
    const unsigned k = rng() % 100;
    p = static_cast<std::uint16_t>(k < 3 ? rng() % 65536 : k < 5 ? 0 : k < 7 ? 16383 + rng() % 10 : 900 + rng() % 200);
  }
  // Clusters of impulses: a block bright above 14 bits and a dark one.
  for (int r = 7; r < 10; ++r)
    for (int c = 7; c < 10; ++c) frame.at(r, c) = 65535;
  for (int r = h - 9; r < h - 7; ++r)
    for (int c = w - 10; c < w - 7; ++c) frame.at(r, c) = 0;
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      const unsigned k = rng() % 100;
      map.cell(r, c) = static_cast<std::uint8_t>(k < 4 ? 1 : k < 8 ? 2 : k < 10 ? 3 + rng() % 253 : 0);
      gain.cells[r][c] = rng() % 10 == 0 ? kSpecialGains[rng() % std::size(kSpecialGains)]
                                         : 0.8f + static_cast<float>(rng() % 500) / 1000.0f;
    }
  for (int r = 11; r < 14; ++r)
    for (int c = 12; c < 15; ++c) map.cell(r, c) = 2;  // a block repaired from its top-left
  // Markers on every edge band and a few fitted lines, with marker values other than 1.
  for (int r : {0, 1, 2, 3, 9, 10, h / 2, h - 11, h - 10, h - 3, h - 1})
    if (rng() % 3 != 0) map.rowMarker(r) = static_cast<std::uint8_t>(1 + rng() % 255);
  for (int c : {0, 1, 2, 3, 9, 10, w / 2, w / 2 + 1, w - 11, w - 10, w - 3, w - 2, w - 1})
    if (rng() % 3 != 0) map.columnMarker(c) = static_cast<std::uint8_t>(1 + rng() % 255);
  map.cells[h][w] = static_cast<std::uint8_t>(rng() % 256);  // the corner byte carries nothing
  return scene;
}

// ---- against the independent reference -----------------------------------------------------

TEST(SmallFrames, EveryShapeAndModeMatchesTheReferenceBitForBit) {
  unsigned seed = 100;
  for (auto [w, h] : kShapes) {
    for (int round = 0; round < 6; ++round) {
      for (bool calibrationMode : {false, true}) {
        const Scene scene = awkwardScene(w, h, ++seed);
        Frame corrected = scene.frame;
        n47::correctFrame(n47::literalKernels(), corrected.data(), w, h, scene.map.rows(), scene.gain.rows(), calibrationMode);
        Frame expected = scene.frame;
        n47test::referenceCorrect(expected, scene.map, scene.gain, calibrationMode);
        ASSERT_EQ(corrected.pixels, expected.pixels) << w << "x" << h << " seed " << seed << " calibration " << calibrationMode;
      }
    }
  }
}

// ---- uniform frames --------------------------------------------------------------------------

TEST(UniformFrames, AreFixedPointsOfEveryStageButTheBorderMask) {
  std::mt19937 rng(7);
  for (auto [w, h] : kShapes) {
    for (int round = 0; round < 4; ++round) {
      const Scene scene = awkwardScene(w, h, rng());
      const std::uint16_t v = round == 0 ? 0 : round == 1 ? 16383 : static_cast<std::uint16_t>(rng() % 16384);
      const Frame uniform(w, h, v);
      const GainMap unit(w, h, 1.0f);
      const std::vector<std::pair<const char*, std::function<void(Frame&)>>> stages = {
          {"impulse", [&](Frame& f) { n47::filterImpulseNoise(f.data(), w, h); }},
          {"code 2", [&](Frame& f) { n47::repairCode2Pixels(f.data(), w, h, scene.map.rows()); }},
          {"unit gain", [&](Frame& f) { n47::applyGainMap(f.data(), w, h, unit.rows()); }},
          {"defect pixels", [&](Frame& f) { n47::repairDefectPixels(f.data(), w, h, scene.map.rows()); }},
          {"defect lines", [&](Frame& f) { n47::repairDefectLines(f.data(), w, h, scene.map.rows()); }},
          {"calibration pipeline",
           [&](Frame& f) { n47::correctFrame(n47::literalKernels(), f.data(), w, h, scene.map.rows(), scene.gain.rows(), true); }},
      };
      for (const auto& [name, stage] : stages) {
        Frame f = uniform;
        stage(f);
        ASSERT_EQ(f.pixels, uniform.pixels) << name << " on " << w << "x" << h << " of " << v;
      }
    }
  }
}

TEST(UniformFrames, AboveFourteenBitsAreKeptByTheFilterAndCodeTwoAndLimitedByTheOthers) {
  const int w = 33, h = 47;
  const Scene scene = awkwardScene(w, h, 8);
  for (std::uint16_t v : {16384, 40000, 65535}) {
    Frame f(w, h, v);
    n47::filterImpulseNoise(f.data(), w, h);
    n47::repairCode2Pixels(f.data(), w, h, scene.map.rows());
    EXPECT_EQ(f.pixels, Frame(w, h, v).pixels);
    n47::repairDefectPixels(f.data(), w, h, scene.map.rows());
    for (int r = 0; r < h; ++r)
      for (int c = 0; c < w; ++c) {
        const bool written = scene.map.cells[r][c] != 0 && r >= 1 && r <= h - 2 && c >= 1 && c <= w - 2;
        ASSERT_EQ(f.at(r, c), written ? 16383 : v) << r << "," << c;
      }
    Frame g(w, h, v);
    n47::applyGainMap(g.data(), w, h, GainMap(w, h, 1.0f).rows());
    EXPECT_EQ(g.pixels, Frame(w, h, 16383).pixels);
  }
}

TEST(UniformFrames, AFrameAtTheDarkOffsetIgnoresEveryFiniteGain) {
  std::mt19937 rng(9);
  GainMap gain(40, 30, 1.0f);
  for (auto& row : gain.cells)
    for (auto& g : row) g = std::bit_cast<float>(static_cast<std::uint32_t>(rng()) & 0xF7FFFFFFu);  // never inf/NaN
  Frame f(40, 30, 100);
  n47::applyGainMap(f.data(), 40, 30, gain.rows());
  EXPECT_EQ(f.pixels, Frame(40, 30, 100).pixels);
}

// ---- where each stage may write --------------------------------------------------------------

// Runs a stage on each scene and checks every pixel: `mayChange` says where the stage may
// write, `written` checks a pixel that did change.
void expectWritesConfined(const char* name, const std::function<void(Scene&, Frame&)>& stage,
                          const std::function<bool(const Scene&, int, int)>& mayChange,
                          const std::function<bool(const Scene&, int, int, std::uint16_t)>& writtenOk) {
  unsigned seed = 500;
  std::size_t changedTotal = 0;
  for (auto [w, h] : kShapes) {
    for (int round = 0; round < 3; ++round) {
      Scene scene = awkwardScene(w, h, ++seed);
      Frame f = scene.frame;
      stage(scene, f);
      for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
          if (f.at(r, c) == scene.frame.at(r, c)) continue;
          ++changedTotal;
          ASSERT_TRUE(mayChange(scene, r, c)) << name << ": " << w << "x" << h << " wrote " << r << "," << c;
          ASSERT_TRUE(writtenOk(scene, r, c, f.at(r, c))) << name << ": " << w << "x" << h << " stored "
                                                          << f.at(r, c) << " at " << r << "," << c;
        }
    }
  }
  EXPECT_GT(changedTotal, 0u) << name << " never did anything: the scenes test nothing";
}

bool within14Bits(const Scene&, int, int, std::uint16_t v) { return v <= 16383; }

TEST(StageReach, TheImpulseFilterTestsOnlyRowsAndColumnsSixToTheThirdLast) {
  expectWritesConfined(
      "impulse", [](Scene& s, Frame& f) { n47::filterImpulseNoise(f.data(), s.width, s.height); },
      [](const Scene& s, int r, int c) { return r >= 6 && r <= s.height - 3 && c >= 6 && c <= s.width - 3; },
      within14Bits);
}

TEST(StageReach, CodeTwoRepairWritesOnlyCodeTwoCellsFromRowAndColumnTwoOnWithoutLimit) {
  expectWritesConfined(
      "code 2", [](Scene& s, Frame& f) { n47::repairCode2Pixels(f.data(), s.width, s.height, s.map.rows()); },
      [](const Scene& s, int r, int c) { return s.map.cells[r][c] == 2 && r >= 2 && c >= 2; },
      [](const Scene&, int, int, std::uint16_t) { return true; });
}

TEST(StageReach, DefectPixelRepairWritesOnlyMarkedCellsInsideTheOuterRingAndLimitsThem) {
  expectWritesConfined(
      "defect pixels", [](Scene& s, Frame& f) { n47::repairDefectPixels(f.data(), s.width, s.height, s.map.rows()); },
      [](const Scene& s, int r, int c) {
        return s.map.cells[r][c] != 0 && r >= 1 && r <= s.height - 2 && c >= 1 && c <= s.width - 2;
      },
      within14Bits);
}

TEST(StageReach, LineRepairWritesOnlyFittedLinesWithTheirNeighboursAndCopiedEdgeColumns) {
  const auto fittedRowNear = [](const Scene& s, int r) {
    for (int y = r - 1; y <= r + 1; ++y)
      if (y >= 10 && y <= s.height - 11 && s.map.cells[y][s.width] != 0) return true;
    return false;
  };
  const auto fittedColumnNear = [](const Scene& s, int c) {
    for (int x = c - 1; x <= c + 1; ++x)
      if (x >= 10 && x <= s.width - 11 && s.map.cells[s.height][x] != 0) return true;
    return false;
  };
  const auto copiedColumn = [](const Scene& s, int c) {
    return (c <= 2 || c >= s.width - 3) && s.map.cells[s.height][c] != 0;
  };
  expectWritesConfined(
      "defect lines", [](Scene& s, Frame& f) { n47::repairDefectLines(f.data(), s.width, s.height, s.map.rows()); },
      [&](const Scene& s, int r, int c) { return fittedRowNear(s, r) || fittedColumnNear(s, c) || copiedColumn(s, c); },
      // A copy passes its neighbour's value on as it is; a fitted pixel is limited.
      [&](const Scene& s, int, int c, std::uint16_t v) { return copiedColumn(s, c) || v <= 16383; });
}

TEST(StageReach, GainCorrectionLimitsEveryPixelAndStoresZeroForNotANumber) {
  expectWritesConfined(
      "gain", [](Scene& s, Frame& f) { n47::applyGainMap(f.data(), s.width, s.height, s.gain.rows()); },
      [](const Scene&, int, int) { return true; },
      [](const Scene& s, int r, int c, std::uint16_t v) {
        return v <= 16383 && (!std::isnan(s.gain.cells[r][c]) || v == 0);
      });
}

TEST(StageReach, TheBorderMaskWritesExactlyTheOuterTwentyLines) {
  for (auto [w, h] : kShapes) {
    Scene scene = awkwardScene(w, h, 3);
    Frame f = scene.frame;
    n47::maskBorder(f.data(), w, h);
    for (int r = 0; r < h; ++r)
      for (int c = 0; c < w; ++c) {
        const bool border = r < 20 || r >= h - 20 || c < 20 || c >= w - 20;
        ASSERT_EQ(f.at(r, c), border ? 16383 : scene.frame.at(r, c)) << w << "x" << h << " " << r << "," << c;
      }
  }
}

// ---- gain over every pixel value ------------------------------------------------------------

TEST(GainCorrection, EveryPixelValueWithEveryAwkwardGain) {
  for (float g : kSpecialGains) {
    for (int p = 0; p <= 65535; ++p) {
      const double v = (static_cast<double>(p) - 100.0) * static_cast<double>(g) + 100.0;
      const std::uint16_t expected =
          std::isnan(v) ? 0 : v > 16383.0 ? 16383 : v < 0.0 ? 0 : static_cast<std::uint16_t>(v);
      ASSERT_EQ(n47::gainCorrectedPixel(static_cast<std::uint16_t>(p), g), expected) << p << " x " << g;
    }
  }
  EXPECT_EQ(n47::gainCorrectedPixel(0, std::numeric_limits<float>::denorm_min()), 100) << "100 less a denormal is 100";
  EXPECT_EQ(n47::gainCorrectedPixel(100, -kInf), 0);
  EXPECT_EQ(n47::gainCorrectedPixel(100, -0.0f), 100);
  EXPECT_EQ(n47::gainCorrectedPixel(65535, std::numeric_limits<float>::max()), 16383);
  EXPECT_EQ(n47::gainCorrectedPixel(0, std::numeric_limits<float>::max()), 0);
}

// ---- stage order -----------------------------------------------------------------------------

// Each mode's stages run in order give the pipeline's result; swapping any two neighbours or
// leaving any stage out gives another frame, so a mistake in the order cannot go unnoticed.
void expectEveryReorderingShows(bool calibrationMode) {
  // Large enough that the border mask leaves an inside in which every stage has work.
  const int w = 96, h = 80;
  Scene scene = awkwardScene(w, h, calibrationMode ? 41 : 42);
  std::mt19937 rng(43);
  for (auto& p : scene.frame.pixels) p = static_cast<std::uint16_t>(950 + rng() % 100);
  for (int k = 0; k < 40; ++k) scene.frame.at(rng() % h, rng() % w) = static_cast<std::uint16_t>(rng() % 65536);
  // Plain gains in two halves, and two that make isolated dark pixels for the second filter.
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) scene.gain.cells[r][c] = r < 34 ? 1.3f : 0.85f;
  scene.gain.cells[50][60] = 0.0f;
  scene.gain.cells[55][70] = std::numeric_limits<float>::quiet_NaN();
  scene.gain.cells[41][60] = 0.0f;  // next to a fitted row
  scene.gain.cells[21][60] = 0.0f;  // next to the border
  scene.map.rowMarker(40) = 1;
  // A pair of impulses survives the first filter; repairing one of them leaves the other
  // isolated for the second. One pair lies on a line that the fit of row 40 reads, the other
  // away from every line.
  for (auto [r, c] : {std::pair{43, 60}, std::pair{60, 70}}) {
    for (int y = r - 3; y <= r + 3; ++y)
      for (int x = c - 3; x <= c + 4; ++x) scene.map.cell(y, x) = 0;
    scene.frame.at(r, c) = scene.frame.at(r, c + 1) = 30000;
    scene.map.cell(r, c + 1) = 1;
  }
  // A block of code-2 cells whose inside has no good neighbour, so the code-2 values survive
  // the defect-pixel repair; and a cluster of impulses that survives the filter.
  for (int r = 30; r < 38; ++r)
    for (int c = 30; c < 38; ++c) scene.map.cell(r, c) = 2;
  for (int r = 45; r < 47; ++r)
    for (int c = 25; c < 28; ++c) scene.frame.at(r, c) = 30000;
  const auto* map = scene.map.rows();
  const auto* gain = scene.gain.rows();
  using n47test::Stage;
  const std::vector<Stage> stages = n47test::literalStagesInOrder(w, h, map, gain, calibrationMode);
  const auto run = [&](const std::vector<Stage>& order) {
    Frame f = scene.frame;
    for (const Stage& stage : order) stage(f);
    return f.pixels;
  };
  Frame corrected = scene.frame;
  n47::correctFrame(n47::literalKernels(), corrected.data(), w, h, map, gain, calibrationMode);
  ASSERT_EQ(corrected.pixels, run(stages));
  for (std::size_t i = 0; i + 1 < stages.size(); ++i) {
    std::vector<Stage> swapped = stages;
    std::swap(swapped[i], swapped[i + 1]);
    EXPECT_NE(corrected.pixels, run(swapped)) << "stages " << i << " and " << i + 1 << " swapped";
  }
  for (std::size_t i = 0; i < stages.size(); ++i) {
    std::vector<Stage> fewer = stages;
    fewer.erase(fewer.begin() + static_cast<std::ptrdiff_t>(i));
    EXPECT_NE(corrected.pixels, run(fewer)) << "stage " << i << " left out";
  }
}

TEST(StageOrder, NormalModeShowsEverySwapAndEveryMissingStage) { expectEveryReorderingShows(false); }

TEST(StageOrder, CalibrationModeShowsEverySwapAndEveryMissingStage) { expectEveryReorderingShows(true); }

}  // namespace
