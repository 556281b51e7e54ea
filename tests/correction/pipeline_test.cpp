// The whole pipeline: the stage order of each mode, and full frames corrected through the
// exports (maps loaded from files, frame captured from the simulator) against the independent
// reference, bit for bit.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <random>

#include "api/detector_instance.h"
#include "support/detector_fixture.h"
#include "correction/gain/apply_gain_map.h"
#include "correction/correction_pipeline.h"
#include "correction/impulse_filter/filter_impulse_noise.h"
#include "correction/border_mask/mask_border.h"
#include "correction/pixel_repairs/pixel_repairs.h"
#include "correction/defect_lines/repair_defect_lines.h"
#include "n47sim/sim_control.h"
#include "support/reference_pipeline.h"
#include "support/maps.h"
#include "support/scene.h"
#include "support/stage_order.h"
#include "support/temp_dir.h"
#include "tavrin_n47.h"

namespace {

using n47test::Frame;
using n47test::Scene;
using n47test::Stage;

// A frame and maps on which every stage has something to do.
Scene orderScene(int w, int h, unsigned seed) {
  Scene scene(w, h);
  std::mt19937 rng(seed);
  for (auto& p : scene.frame) p = static_cast<std::uint16_t>(rng() % 50 == 0 ? rng() % 30000 : 900 + rng() % 200);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      const unsigned code = rng() % 40;
      scene.map.cell(r, c) = code == 0 ? 1 : code == 1 ? 2 : 0;
      scene.gain.cells[r][c] = 0.7f + static_cast<float>(rng() % 600) / 1000.0f;
    }
  // A block of code-2 cells: its inside has no good neighbour, so the code-2 values survive
  // the defect-pixel repair and the order of code-2 repair and gain shows.
  for (int r = 30; r < 38; ++r)
    for (int c = 30; c < 38; ++c) scene.map.cell(r, c) = 2;
  scene.map.rowMarker(h / 2) = 1;
  scene.map.columnMarker(w / 2 + 1) = 1;
  scene.map.columnMarker(1) = 1;
  return scene;
}

// The pipeline equals its stages run in order, and running the two named neighbours the other
// way round gives another frame (so the test would notice that mistake).
void expectOrderMatters(bool calibrationMode, std::size_t swapAt) {
  constexpr int w = 80, h = 80;
  const Scene scene = orderScene(w, h, calibrationMode ? 11 : 12);
  const auto* map = scene.map.rows();
  const auto* gain = scene.gain.rows();
  const std::vector<Stage> stages = n47test::literalStagesInOrder(w, h, map, gain, calibrationMode);
  const auto runInOrder = [&](const std::vector<Stage>& order) {
    Frame f = scene.frame;
    for (const Stage& stage : order) stage(f);
    return f;
  };
  Frame corrected = scene.frame;
  n47::correctFrame(n47::literalKernels(), corrected.data(), w, h, map, gain, calibrationMode);
  EXPECT_EQ(corrected, runInOrder(stages));
  std::vector<Stage> swapped = stages;
  std::swap(swapped[swapAt], swapped[swapAt + 1]);
  EXPECT_NE(corrected, runInOrder(swapped));
}

TEST(Pipeline, NormalModeRepairsCode2PixelsBeforeTheGain) { expectOrderMatters(false, 1); }

TEST(Pipeline, CalibrationModeLeavesOutGainAndBorderAndRepairsCode2First) { expectOrderMatters(true, 1); }

TEST(Pipeline, NeutralMapsChangeAFrameOnlyByFilteringLimitingAndMasking) {
  constexpr int w = 80, h = 80;
  Frame frame(w, h, 1000);
  frame[30 * w + 30] = 40000;  // an impulse: filtered
  frame[30 * w + 3] = 40000;   // under the border mask
  n47test::PixelMap map(w, h);
  n47test::GainMap gain(w, h, 1.0f);
  Frame normal = frame, calibration = frame;
  n47::correctFrame(n47::literalKernels(), normal.data(), w, h, map.rows(), gain.rows(), false);
  n47::correctFrame(n47::literalKernels(), calibration.data(), w, h, map.rows(), gain.rows(), true);
  EXPECT_EQ(normal[30 * w + 30], 1000);
  EXPECT_EQ(normal[30 * w + 3], 16383);
  EXPECT_EQ(normal[25 * w + 25], 1000);
  EXPECT_EQ(calibration[30 * w + 30], 1000);
  EXPECT_EQ(calibration[30 * w + 3], 40000) << "calibration mode keeps values above 14 bits and the border";
  EXPECT_EQ(calibration[0], 1000);
}

// ---- whole frames through the library ------------------------------------------------------

constexpr int W = 2048;
constexpr int H = 1536;

class FullFrame : public n47test::DetectorTest {
 protected:

  // Random maps with every code, markers on every edge band, and every awkward gain, written
  // as map files and loaded through the exports.
  struct Maps {
    n47test::PixelMap pixels{W, H};
    n47test::GainMap gains{W, H};
  };
  Maps loadRandomMaps(std::mt19937& rng) {
    Maps maps;
    maps.pixels.forEach([&](std::uint8_t& cell) {
      const unsigned k = rng() % 1000;
      cell = k < 3 ? 1 : k < 6 ? 2 : k < 7 ? static_cast<std::uint8_t>(3 + rng() % 253) : 0;
    });
    for (int r = 0; r < H; ++r) maps.pixels.rowMarker(r) = 0;
    for (int c = 0; c < W; ++c) maps.pixels.columnMarker(c) = 0;
    for (int r : {0, 2, 3, 9, 10, 11, 400, 401, 402, 900, 1525, 1526, 1530, 1535}) maps.pixels.rowMarker(r) = 1;
    for (int c : {0, 1, 2, 3, 9, 10, 12, 700, 701, 1500, 2037, 2038, 2040, 2045, 2046, 2047})
      maps.pixels.columnMarker(c) = static_cast<std::uint8_t>(1 + rng() % 200);

    const float specials[] = {1.0f, 0.0f, -0.0f, -1.5f, std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                              1e-40f, 3.0f};
    std::uniform_real_distribution<float> usual(0.8f, 1.25f);
    maps.gains.forEach([&](float& g) { g = rng() % 200 == 0 ? specials[rng() % 9] : usual(rng); });

    n47test::TempDir dir;
    std::vector<std::uint8_t> pixelBytes, gainBytes;
    for (const auto& row : maps.pixels.cells) pixelBytes.insert(pixelBytes.end(), row.begin(), row.end());
    for (const auto& row : maps.gains.cells) {
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(row.data());
      gainBytes.insert(gainBytes.end(), bytes, bytes + row.size() * sizeof(float));
    }
    n47test::writeFileBytes(dir.file("p.map"), pixelBytes);
    n47test::writeFileBytes(dir.file("g.map"), gainBytes);
    EXPECT_EQ(LoadPixelMap(dir.file("p.map").c_str()), 1);
    EXPECT_EQ(LoadGainMap(dir.file("g.map").c_str()), 1);
    return maps;
  }

  static Frame randomFrame(std::mt19937& rng) {
    Frame frame(W, H);
    std::normal_distribution<double> noise(0.0, 25.0);
    for (int r = 0; r < H; ++r)
      for (int c = 0; c < W; ++c) {
        double v = 2000.0 + 3.0 * r - 0.5 * c + noise(rng);
        const unsigned k = rng() % 1000;
        if (k == 0) v = 0;
        if (k == 1) v = 16383 + rng() % 49153;  // above 14 bits, up to 65535
        if (k == 2) v += 3000;
        frame.at(r, c) = static_cast<std::uint16_t>(std::clamp(v, 0.0, 65535.0));
      }
    for (int c = 200; c < 210; ++c) frame.at(600, c) = 65535;  // a run of impulses
    return frame;
  }

  void expectCapturedFrameMatchesReference(bool calibrationMode, unsigned seed) {
    std::mt19937 rng(seed);
    const Maps maps = loadRandomMaps(rng);
    ASSERT_EQ(CalibrationMode(calibrationMode ? 1 : 0), calibrationMode ? 1 : 0);
    Frame frame = randomFrame(rng);
    n47sim_set_frame(frame.data(), frame.size());
    ASSERT_EQ(RunforDetector(1), 1);
    ASSERT_EQ(RunforDetector(2), 1);
    n47test::referenceCorrect(frame, maps.pixels, maps.gains, calibrationMode);
    const unsigned short* image = GetImagePtr();
    std::size_t mismatches = 0, first = 0;
    for (std::size_t i = 0; i < frame.size(); ++i) {
      if (image[i] != frame[i] && mismatches++ == 0) first = i;
    }
    EXPECT_EQ(mismatches, 0u) << "first at row " << first / W << " column " << first % W << ": " << image[first]
                              << " instead of " << frame[first];
  }
};

TEST_F(FullFrame, NormalModeMatchesTheReferenceBitForBit) { expectCapturedFrameMatchesReference(false, 101); }

TEST_F(FullFrame, CalibrationModeMatchesTheReferenceBitForBit) { expectCapturedFrameMatchesReference(true, 202); }

}  // namespace
