// The fast correction stages against the literal ones, bit for bit, at every dispatch level
// this machine has, on inputs made to hit what the fast forms find hard: in-place chains of
// replacements, saturated lanes, band edges, every map code and every odd gain, and every small
// frame shape for the vector tails.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "common/geometry.h"
#include "correction/gain/apply_gain_map.h"
#include "correction/correction_pipeline.h"
#include "correction/impulse_filter/filter_impulse_noise.h"
#include "correction/border_mask/mask_border.h"
#include "correction/pixel_repairs/pixel_repairs.h"
#include "support/dispatch_levels.h"
#include "support/scene.h"

namespace {

using n47test::Frame;
using Generator = std::function<Frame(int, int, std::mt19937&)>;

std::uint16_t clampPixel(double v) { return static_cast<std::uint16_t>(std::clamp(v, 0.0, 65535.0)); }

// Frames that stress the filter, each a different way.
std::vector<std::pair<const char*, Generator>> filterInputs() {
  return {
      {"noise with impulses", [](int w, int h, std::mt19937& rng) {
         Frame f(w, h);
         std::normal_distribution<double> noise(1500.0, 30.0);
         for (auto& p : f) p = rng() % 40 == 0 ? static_cast<std::uint16_t>(rng() % 65536) : clampPixel(noise(rng));
         return f;
       }},
      {"clusters and runs of impulses", [](int w, int h, std::mt19937& rng) {
         Frame f(w, h);
         for (auto& p : f) p = static_cast<std::uint16_t>(1000 + rng() % 21);
         for (int k = 0; k < (w * h) / 30 + 1; ++k) {
           const int r = static_cast<int>(rng() % h), c = static_cast<int>(rng() % w);
           const int len = 1 + static_cast<int>(rng() % 4);
           const std::uint16_t v = rng() % 2 ? static_cast<std::uint16_t>(5000 + rng() % 60000) : 0;
           for (int i = 0; i < len; ++i) {
             const int cc = rng() % 3 == 0 ? c : c + i, rr = rng() % 3 == 0 ? r + i : r;
             if (rr < h && cc < w) f[static_cast<std::size_t>(rr) * w + cc] = v;
           }
         }
         return f;
       }},
      {"values 0 and above 14 bits", [](int w, int h, std::mt19937& rng) {
         Frame f(w, h);
         const std::uint16_t pool[] = {0, 1, 16383, 16384, 40000, 65534, 65535};
         for (auto& p : f) p = pool[rng() % 7];
         return f;
       }},
      {"flat with deviations of 1 and 2", [](int w, int h, std::mt19937& rng) {
         Frame f(w, h);
         const std::uint16_t level = static_cast<std::uint16_t>(rng() % 65536);
         for (auto& p : f) {
           const int d = rng() % 8 == 0 ? static_cast<int>(rng() % 5) - 2 : 0;
           p = static_cast<std::uint16_t>(std::clamp(level + d, 0, 65535));
         }
         return f;
       }},
      {"sums near multiples of 25", [](int w, int h, std::mt19937& rng) {
         Frame f(w, h, static_cast<std::uint16_t>(1 + rng() % 3000));
         for (auto& p : f)
           if (rng() % 5 == 0) p = static_cast<std::uint16_t>(p + (rng() % 2 ? 1 : -1));
         return f;
       }},
      {"anything", [](int w, int h, std::mt19937& rng) {
         Frame f(w, h);
         for (auto& p : f) p = static_cast<std::uint16_t>(rng());
         return f;
       }},
      {"mostly zero", [](int w, int h, std::mt19937& rng) {
         Frame f(w, h, 0);
         for (auto& p : f)
           if (rng() % 10 == 0) p = static_cast<std::uint16_t>(rng() % 4);
         return f;
       }},
  };
}

// The literal and the fast form of a frame stage, each on its own copy of `input`, agree.
bool sameAsLiteral(const Frame& input, n47::FrameStage* literal, n47::FrameStage* fast) {
  Frame expected = input, got = input;
  literal(expected.data(), input.width, input.height);
  fast(got.data(), input.width, input.height);
  return got == expected;
}

TEST(FastImpulseFilter, TheFloatMeanEqualsTheIntegerMeanForEverySum) {
  for (std::int32_t sum = 0; sum <= 25 * 65535; ++sum) {
    const auto viaFloat = static_cast<std::int32_t>(static_cast<float>(sum - 1) * 0.04f);
    ASSERT_EQ(viaFloat, (sum - 1) / 25) << sum;
  }
}

TEST(FastImpulseFilter, MatchesTheLiteralFilterOnEverySmallShape) {
  n47test::forEachLevel([](const n47::Kernels& kernels) {
    std::mt19937 rng(7);
    for (const auto& [name, generate] : filterInputs()) {
      SCOPED_TRACE(name);
      // Widths up to 72 give the 32-lane kernel a full block, an overlapping last block and tails.
      for (int h = 1; h <= 40; h += h < 12 ? 1 : 3)
        for (int w = 1; w <= 72; ++w)
          ASSERT_TRUE(sameAsLiteral(generate(w, h, rng), n47::filterImpulseNoise, kernels.filterImpulseNoise))
              << w << " x " << h;
    }
  });
}

TEST(FastImpulseFilter, MatchesTheLiteralFilterOnWideFramesAndLeavesTooWideOnesToIt) {
  n47test::forEachLevel([](const n47::Kernels& kernels) {
    std::mt19937 rng(8);
    for (const auto& [name, generate] : filterInputs()) {
      SCOPED_TRACE(name);
      for (const int w : {2048, 2047, 2049, 777})
        ASSERT_TRUE(sameAsLiteral(generate(w, 24, rng), n47::filterImpulseNoise, kernels.filterImpulseNoise)) << w;
    }
  });
}

TEST(FastImpulseFilter, AReplacementFeedsTheNextWindowsOfItsRow) {
  // The worked example: the 5000 becomes 1125, and that new value decides the 2000 next to it.
  n47test::forEachLevel([](const n47::Kernels& kernels) {
    Frame f(12, 12, 1000);
    f[6 * 12 + 6] = 5000;
    f[6 * 12 + 7] = 2000;
    kernels.filterImpulseNoise(f.data(), 12, 12);
    EXPECT_EQ(f[6 * 12 + 6], 1125);
    EXPECT_EQ(f[6 * 12 + 7], 1015);
  });
}

// Gains that stress the double steps, and pixels all over the 16-bit range.
TEST(FastGain, MatchesTheLiteralStageForEveryOddGainAndEveryTail) {
  const float specials[] = {0.0f, -0.0f, -1.5f, std::numeric_limits<float>::quiet_NaN(),
                            -std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(), 1e-40f, -1e-40f,
                            std::numeric_limits<float>::denorm_min(), 1.0f, 0.9f, 1.1f, 3.0f, 1e30f};
  n47test::forEachLevel([&](const n47::Kernels& kernels) {
    std::mt19937 rng(9);
    for (int w = 1; w <= 40; ++w) {
      const int h = 1 + static_cast<int>(rng() % 5);
      n47test::GainMap gain(w, h);
      gain.forEach([&](float& g) { g = rng() % 3 == 0 ? specials[rng() % 15] : 0.5f + static_cast<float>(rng() % 1000) / 500.0f; });
      Frame literal(w, h);
      const std::uint16_t pool[] = {0, 99, 100, 101, 16383, 16384, 65535};
      for (auto& p : literal) p = rng() % 4 == 0 ? pool[rng() % 7] : static_cast<std::uint16_t>(rng());
      Frame fast = literal;
      n47::applyGainMap(literal.data(), w, h, gain.rows());
      kernels.applyGainMap(fast.data(), w, h, gain.rows());
      ASSERT_EQ(fast, literal) << w << " x " << h;
    }
  });
}

TEST(FastPixelRepairs, MatchTheLiteralStagesForEveryCodeAndClusters) {
  n47test::forEachLevel([](const n47::Kernels& kernels) {
  std::mt19937 rng(10);
  for (int h = 1; h <= 40; h += 3)
    for (int w = 1; w <= 40; ++w) {
      n47test::PixelMap map(w, h);
      for (int r = 0; r <= h; ++r)
        for (int c = 0; c <= w; ++c) {
          const unsigned k = rng() % 12;
          map.cell(r, c) = k < 2 ? 2 : k < 3 ? static_cast<std::uint8_t>(1 + rng() % 255) : 0;
        }
      if (w > 6 && h > 6)
        for (int r = 2; r < 6; ++r)
          for (int c = 2; c < 6; ++c) map.cell(r, c) = 2;  // a cluster filled from its top-left
      Frame literal(w, h);
      for (auto& p : literal) p = rng() % 8 == 0 ? static_cast<std::uint16_t>(rng()) : static_cast<std::uint16_t>(rng() % 2000);
      Frame fast = literal;
      n47::repairCode2Pixels(literal.data(), w, h, map.rows());
      kernels.repairCode2Pixels(fast.data(), w, h, map.rows());
      ASSERT_EQ(fast, literal) << "code 2, " << w << " x " << h;
      n47::repairDefectPixels(literal.data(), w, h, map.rows());
      kernels.repairDefectPixels(fast.data(), w, h, map.rows());
      ASSERT_EQ(fast, literal) << "defect pixels, " << w << " x " << h;
    }
  });
}

TEST(FastBorderMask, MatchesTheLiteralStageOnEveryShapeWithRoomForItsBands) {
  n47test::forEachLevel([](const n47::Kernels& kernels) {
    std::mt19937 rng(11);
    for (int h = 40; h <= 47; ++h)
      for (int w = 40; w <= 90; w += 5) {
        Frame frame(w, h);
        for (auto& p : frame) p = static_cast<std::uint16_t>(rng());
        ASSERT_TRUE(sameAsLiteral(frame, n47::maskBorder, kernels.maskBorder)) << w << " x " << h;
      }
  });
}

TEST(FastPipeline, MatchesTheLiteralPipelineInBothModesOnSmallFrames) {
  n47test::forEachLevel([](const n47::Kernels& kernels) {
    for (int size = 20; size <= 64; size += 11) {
      for (const bool calibration : {false, true}) {
        const n47test::Scene scene = n47test::makeRealisticScene(size + 7, size, 100 + static_cast<unsigned>(size));
        Frame literal = scene.frame, fast = scene.frame;
        n47::correctFrame(n47::literalKernels(), literal.data(), scene.width, scene.height, scene.map.rows(), scene.gain.rows(), calibration);
        n47::correctFrame(kernels, fast.data(), scene.width, scene.height, scene.map.rows(), scene.gain.rows(), calibration);
        ASSERT_EQ(fast, literal) << size << (calibration ? " calibration" : " normal");
      }
    }
  });
}

// The stages between the filter passes follow the first pass row by row; dense maps, code-2
// clusters and strong gains make every row they change matter to what a later stage reads.
TEST(FastPipeline, MatchesTheLiteralPipelineWithDenseMapsAndStrongGains) {
  std::mt19937 rng(12);
  for (const auto& [w, h] : {std::pair{9, 9}, {10, 13}, {33, 17}, {70, 41}, {130, 24}}) {
    n47test::PixelMap map(w, h);
    for (int r = 0; r <= h; ++r)
      for (int c = 0; c <= w; ++c) {
        const unsigned k = rng() % 10;
        map.cell(r, c) = k < 2 ? 2 : k < 3 ? static_cast<std::uint8_t>(1 + rng() % 255) : 0;
      }
    // Code-2 clusters: their inner cells have no good neighbour, so the defect-pixel repair
    // keeps what the code-2 repair wrote there.
    for (int k = 0; k < (w * h) / 60 + 1; ++k) {
      const int top = static_cast<int>(rng() % h), left = static_cast<int>(rng() % w);
      const int size = 3 + static_cast<int>(rng() % 3);
      for (int r = top; r < top + size && r < h; ++r)
        for (int c = left; c < left + size && c < w; ++c) map.cell(r, c) = 2;
    }
    n47test::GainMap gain(w, h);
    gain.forEach([&](float& g) { g = 0.5f + static_cast<float>(rng() % 1000) / 500.0f; });
    Frame frame(w, h);
    for (auto& p : frame)
      p = rng() % 20 == 0 ? static_cast<std::uint16_t>(rng()) : static_cast<std::uint16_t>(800 + rng() % 200);
    for (const bool calibration : {false, true}) {
      Frame literal = frame;
      n47::correctFrame(n47::literalKernels(), literal.data(), w, h, map.rows(), gain.rows(), calibration);
      n47test::forEachLevel([&](const n47::Kernels& kernels) {
        Frame fast = frame;
        n47::correctFrame(kernels, fast.data(), w, h, map.rows(), gain.rows(), calibration);
        ASSERT_EQ(fast, literal) << w << " x " << h << (calibration ? " calibration" : " normal");
      });
    }
  }
}

// Both modes of the pipeline on one scene, at every level, against the literal pipeline.
void expectPipelinesMatch(const n47test::Scene& scene) {
  Frame literalNormal = scene.frame, literalCalibration = scene.frame;
  n47::correctFrame(n47::literalKernels(), literalNormal.data(), scene.width, scene.height, scene.map.rows(), scene.gain.rows(), false);
  n47::correctFrame(n47::literalKernels(), literalCalibration.data(), scene.width, scene.height, scene.map.rows(), scene.gain.rows(), true);
  n47test::forEachLevel([&](const n47::Kernels& kernels) {
    Frame normal = scene.frame, calibration = scene.frame;
    n47::correctFrame(kernels, normal.data(), scene.width, scene.height, scene.map.rows(), scene.gain.rows(), false);
    n47::correctFrame(kernels, calibration.data(), scene.width, scene.height, scene.map.rows(), scene.gain.rows(), true);
    EXPECT_TRUE(normal == literalNormal);
    EXPECT_TRUE(calibration == literalCalibration);
  });
}

TEST(FastPipeline, MatchesTheLiteralPipelineOnARealisticDetectorFrame) {
  expectPipelinesMatch(n47test::makeRealisticScene(n47::kFrameWidth, n47::kFrameHeight, 5));
}

// Dense impulses, clustered defects, flat patches where the band is narrowest and values above
// 14 bits: thousands of replacements, each reopening the positions after it.
TEST(FastPipeline, MatchesTheLiteralPipelineOnAHardFrame) {
  expectPipelinesMatch(n47test::makeHardScene(640, 480, 6));
}

}  // namespace
