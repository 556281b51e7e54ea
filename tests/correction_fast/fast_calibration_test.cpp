// The fast calibration steps against the literal ones, bit for bit, at every dispatch level:
// flat sums and their averages at the edges of the 32-bit and 14-bit ranges, defect maps from
// flats with outliers, weak lines, bands and earlier marks, gain maps on both sides of the
// float-exact range, and a whole series through the export.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "api/detector_instance.h"
#include "calibration/calibration_steps.h"
#include "detector/detector.h"
#include "support/dispatch_levels.h"
#include "n47sim/sim_control.h"
#include "support/scene.h"
#include "tavrin_n47.h"

namespace {

using n47test::Frame;

TEST(FastCalibration, FlatSumsAndAveragesMatchTheLiteralStepAtTheRangeEdges) {
  n47test::forEachLevel([](const n47::Kernels& kernels) {
    std::mt19937 rng(21);
    for (const int count : {1, 2, 3, 7, 1000, 65537}) {
      SCOPED_TRACE(count);
      for (const int pixels : {1, 7, 33, 1000}) {
        std::vector<std::uint32_t> literal(static_cast<std::size_t>(pixels));
        const std::uint32_t ceilingSum = 16384u * static_cast<std::uint32_t>(count);
        for (auto& s : literal) {
          switch (rng() % 6) {
            case 0: s = ceilingSum - 1 + rng() % 3; break;                              // at the ceiling
            case 1: s = static_cast<std::uint32_t>(rng() % 4) * static_cast<std::uint32_t>(count) + rng() % 2; break;
            case 5:  // a whole quotient anywhere below the ceiling, or one less than one
              s = static_cast<std::uint32_t>(rng() % 16384) * static_cast<std::uint32_t>(count) - rng() % 2;
              break;
            case 2: s = static_cast<std::uint32_t>(rng()); break;                       // anything 32-bit
            default: s = static_cast<std::uint32_t>(rng()) % ceilingSum; break;
          }
        }
        Frame frame(pixels, 1);
        for (auto& p : frame) p = static_cast<std::uint16_t>(rng() % 3 == 0 ? 65535 : rng());
        std::vector<std::uint32_t> fast = literal;
        for (const int index : {1 % count, count - 1}) {  // a middle step, then the last
          n47::accumulateFlatFrame(literal.data(), frame.data(), pixels, 1, index, count);
          kernels.accumulateFlatFrame(fast.data(), frame.data(), pixels, 1, index, count);
          ASSERT_EQ(fast, literal) << pixels << " pixels, index " << index;
        }
        n47::accumulateFlatFrame(literal.data(), frame.data(), pixels, 1, 0, count);
        kernels.accumulateFlatFrame(fast.data(), frame.data(), pixels, 1, 0, count);
        ASSERT_EQ(fast, literal) << "index 0 starts afresh";
      }
    }
  });
}

// A flat of the given shape with outliers, weak and hot lines, a band of weak rows and an earlier
// frame's marks in the map.
struct DefectCase {
  Frame frame;
  n47test::PixelMap map;
};

DefectCase makeDefectCase(int w, int h, std::mt19937& rng) {
  DefectCase dc{n47test::makeFlatFrame(w, h, static_cast<unsigned>(rng())), n47test::PixelMap(w, h)};
  auto at = [&](int r, int c) -> std::uint16_t& { return dc.frame[static_cast<std::size_t>(r) * w + c]; };
  switch (rng() % 4) {
    case 0:  // a band of 3 to 6 weak rows and a hot column
      for (int r = h / 2, n = 3 + static_cast<int>(rng() % 4); n > 0; ++r, --n)
        for (int c = 0; c < w; ++c) at(r, c) = 10;
      for (int r = 0; r < h; ++r) at(r, w / 2) = 60000;
      break;
    case 1:  // one value everywhere: sigma 0
      for (auto& p : dc.frame) p = 777;
      at(h / 2, w / 2) = 778;
      break;
    case 2:  // anything
      for (auto& p : dc.frame) p = static_cast<std::uint16_t>(rng());
      break;
    default:
      break;
  }
  for (int k = 0; k < (w * h) / 50; ++k) dc.map.cell(static_cast<int>(rng() % h), static_cast<int>(rng() % w)) = 1;
  for (int r = 16; r < h - 16; r += 7) dc.map.cell(r, w) = rng() % 3 == 0 ? 1 : 0;     // earlier row markers
  for (int c = 16; c < w - 16; c += 5) dc.map.cell(h, c) = rng() % 3 == 0 ? 1 : 0;     // earlier column markers
  return dc;
}

TEST(FastCalibration, DefectMapsMatchTheLiteralStepOnManyShapes) {
  n47test::forEachLevel([](const n47::Kernels& kernels) {
    std::mt19937 rng(22);
    for (int h = 20; h <= 80; h += 7)
      for (int w = 20; w <= 90; w += 3) {
        DefectCase literal = makeDefectCase(w, h, rng);
        DefectCase fast = literal;
        n47::generateDefectMap(literal.frame.data(), w, h, literal.map.rows());
        kernels.generateDefectMap(fast.frame.data(), w, h, fast.map.rows());
        ASSERT_EQ(fast.frame, literal.frame) << w << " x " << h;
        int row = 0;
        while (row <= h && fast.map.cells[row] == literal.map.cells[row]) ++row;
        ASSERT_TRUE(row > h) << w << " x " << h << ": first difference in map row " << row;
      }
  });
}

TEST(FastCalibration, GainMapsMatchTheLiteralStepOnBothSidesOfTheFloatExactRange) {
  n47test::forEachLevel([](const n47::Kernels& kernels) {
    std::mt19937 rng(23);
    for (int trial = 0; trial < 40; ++trial) {
      const int w = 1 + static_cast<int>(rng() % 70), h = 1 + static_cast<int>(rng() % 9);
      std::vector<std::uint32_t> literal(static_cast<std::size_t>(w) * h);
      for (auto& v : literal) {
        switch (trial % 4) {
          case 0: v = static_cast<std::uint32_t>(rng() % 16384); break;
          case 1: v = static_cast<std::uint32_t>(rng() % 203); break;  // around the offset
          case 2: v = static_cast<std::uint32_t>(rng() % (1u << 24)) + 100; break;
          default: v = static_cast<std::uint32_t>(rng() % 3 == 0 ? rng() : rng() % 20000); break;
        }
      }
      std::vector<std::uint32_t> fast = literal;
      n47test::GainMap literalGain(w, h), fastGain(w, h);
      n47::computeGainMap(literal.data(), w, h, literalGain.rows());
      kernels.computeGainMap(fast.data(), w, h, fastGain.rows());
      ASSERT_EQ(fast, literal);
      ASSERT_TRUE(fastGain.sameBytes(literalGain)) << w << " x " << h << ", trial " << trial;
    }
  });
}

TEST(FastCalibration, TheLastStepInOnePassMatchesAccumulatingThenTheGainMap) {
  n47test::forEachLevel([](const n47::Kernels& kernels) {
    std::mt19937 rng(29);
    const int counts[] = {1, 2, 3, 7, 1000, 65537};
    for (int trial = 0; trial < 36; ++trial) {
      const int w = 1 + static_cast<int>(rng() % 70), h = 1 + static_cast<int>(rng() % 9);
      const auto count = static_cast<std::uint32_t>(counts[trial % 6]);
      std::vector<std::uint32_t> literal(static_cast<std::size_t>(w) * h);
      for (auto& v : literal) {
        switch (trial % 3) {
          case 0: v = static_cast<std::uint32_t>(rng() % 16384) * (count - 1); break;  // earlier frames
          case 1: v = 16384u * count - static_cast<std::uint32_t>(rng() % 70000); break;  // near the ceiling
          default: v = static_cast<std::uint32_t>(rng()); break;
        }
      }
      Frame frame(w, h);
      for (auto& p : frame) p = static_cast<std::uint16_t>(rng() % 4 == 0 ? 90 + rng() % 20 : rng());
      std::vector<std::uint32_t> fast = literal;
      n47test::GainMap literalGain(w, h), fastGain(w, h);
      n47::finishFlatSeries(literal.data(), frame.data(), w, h, static_cast<int>(count), literalGain.rows());
      kernels.finishFlatSeries(fast.data(), frame.data(), w, h, static_cast<int>(count), fastGain.rows());
      ASSERT_EQ(fast, literal) << w << " x " << h << ", count " << count;
      ASSERT_TRUE(fastGain.sameBytes(literalGain)) << w << " x " << h << ", count " << count;
    }
  });
}

// The detector's own series, literal and fast, must leave the same maps, sums and frames.
TEST(FastCalibration, ASeriesThroughTheExportMatchesTheLiteralSteps) {
  constexpr int W = n47::kFrameWidth, H = n47::kFrameHeight;
  struct Outcome {
    std::vector<std::uint8_t> newPixelMap;
    std::vector<float> newGainMap;
    std::vector<std::uint32_t> flatSum;
    std::vector<Frame> frames;
  };
  const auto runSeries = [&](const n47::Kernels& kernels) {
    n47::exchangeHeldKernels(&kernels);
    n47sim_reset();
    EXPECT_EQ(Sys_Allocation_N47(), 1);
    Outcome out;
    for (int index = 0; index < 3; ++index) {
      Frame frame = n47test::makeFlatFrame(W, H, 300 + static_cast<unsigned>(index));
      EXPECT_EQ(Map_Calibration(frame.data(), index, 3), 1);
      out.frames.push_back(std::move(frame));
    }
    const n47::Detector* d = g_detector;
    for (int r = 0; r < d->mapHeight; ++r) out.newPixelMap.insert(out.newPixelMap.end(), d->newPixelMap[r], d->newPixelMap[r] + d->mapWidth);
    for (int r = 0; r < H; ++r) out.newGainMap.insert(out.newGainMap.end(), d->newGainMap[r], d->newGainMap[r] + W);
    out.flatSum.assign(d->flatSum, d->flatSum + static_cast<std::size_t>(W) * H);
    Sys_Free();
    n47::exchangeHeldKernels(nullptr);
    return out;
  };
  const Outcome literal = runSeries(n47::literalKernels());
  for (const n47::InstructionSet level : n47test::availableLevels()) {
    SCOPED_TRACE(n47::instructionSetName(level));
    const Outcome fast = runSeries(n47::kernelsFor(level));
    EXPECT_TRUE(fast.newPixelMap == literal.newPixelMap);
    EXPECT_EQ(std::memcmp(fast.newGainMap.data(), literal.newGainMap.data(), literal.newGainMap.size() * sizeof(float)), 0);
    EXPECT_TRUE(fast.flatSum == literal.flatSum);
    EXPECT_TRUE(fast.frames == literal.frames);
  }
}

}  // namespace
