// The correction stages on fuzzed frames, pixel maps, gain maps and geometries, down to
// frames of no pixels and sizes below each stage's minimum. Every buffer is allocated to its
// exact size, so a read or write outside it is caught; the whole pipeline must also agree
// with the independent reference reading of the rules, and every fast form, at every
// instruction-set level, with its literal stage.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "correction/apply_gain_map.h"
#include "correction/correction_pipeline.h"
#include "correction/fast/fast_correction.h"
#include "correction/filter_impulse_noise.h"
#include "correction/mask_border.h"
#include "correction/repair_code2_pixels.h"
#include "correction/repair_defect_lines.h"
#include "correction/repair_defect_pixels.h"
#include "fast_forms.h"
#include "fuzz_input.h"
#include "reference_pipeline.h"

namespace {

// Mostly the codes the library writes (0, 1, 2), sometimes any byte.
std::uint8_t mapCode(n47fuzz::FuzzInput& input) {
  const std::uint8_t b = input.byte();
  return b < 200 ? b % 3 : b;
}

float gain(n47fuzz::FuzzInput& input) {
  const std::uint8_t kind = input.byte();
  if (kind < 160) return 0.5f + (kind % 64) / 32.0f;
  return input.value<float>();  // any bit pattern: negative, huge, infinite, NaN
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  n47fuzz::FuzzInput input(data, size);
  // Up to 96 x 48: enough to reach every stage's interior and several vector blocks of the
  // widest kernels, small enough to run fast. The line fit needs 21, the impulse filter 9,
  // the border mask 40.
  const int width = input.byte() % 97;
  const int height = input.byte() % 49;
  const std::uint8_t stages = input.byte();
  const bool calibrationMode = (stages & 0x80) != 0;
  const std::size_t pixels = static_cast<std::size_t>(width) * height;

  n47fuzz::Rows<std::uint8_t> pixelMap(width + 1, height + 1);
  for (auto& row : pixelMap.storage)
    for (int c = 0; c <= width; ++c) row[c] = mapCode(input);
  n47fuzz::Rows<float> gainMap(width, height);
  for (auto& row : gainMap.storage)
    for (int c = 0; c < width; ++c) row[c] = gain(input);

  std::vector<std::uint16_t> original(pixels);
  const std::uint8_t range = input.byte();
  for (auto& p : original) {
    const std::uint16_t v = input.value<std::uint16_t>();
    p = range < 128 ? v % 16384 : v;
  }
  // An exact heap block: a vector of no pixels would hand out a null pointer.
  auto frame = std::make_unique<std::uint16_t[]>(pixels);
  if (pixels > 0) std::memcpy(frame.get(), original.data(), pixels * sizeof(std::uint16_t));
  const auto* const* pm = pixelMap.pointers.data();
  const auto* const* gm = gainMap.pointers.data();

  if ((stages & 0x40) != 0) {
    n47::correctFrame(frame.get(), width, height, pm, gm, calibrationMode);
    n47fuzz::checkFastForm(original.data(), frame.get(), pixels, [&](std::uint16_t* copy) {
      n47::fast::correctFrame(copy, width, height, pm, gm, calibrationMode);
    });
    n47test::ReferenceMaps maps;
    maps.width = width;
    maps.height = height;
    for (int r = 0; r <= height; ++r) maps.pixelMap.insert(maps.pixelMap.end(), pm[r], pm[r] + width + 1);
    for (int r = 0; r < height; ++r) maps.gainMap.insert(maps.gainMap.end(), gm[r], gm[r] + width);
    std::vector<std::uint16_t> expected = original;
    n47test::referenceCorrect(expected, maps, calibrationMode);
    N47_FUZZ_CHECK(std::equal(expected.begin(), expected.end(), frame.get()));
    return 0;
  }

  // Single stages, in the order the bits give, each on the previous one's output.
  const auto stage = [&](auto literal, auto fast) {
    const auto input = n47fuzz::exactCopy(frame.get(), pixels);
    literal(frame.get());
    n47fuzz::checkFastForm(input.get(), frame.get(), pixels, fast);
  };
  if (stages & 0x01) {
    stage([&](std::uint16_t* f) { n47::filterImpulseNoise(f, width, height); },
          [&](std::uint16_t* f) { n47::fast::filterImpulseNoise(f, width, height); });
  }
  if (stages & 0x02) {
    stage([&](std::uint16_t* f) { n47::repairCode2Pixels(f, width, height, pm); },
          [&](std::uint16_t* f) { n47::fast::repairCode2Pixels(f, width, height, pm); });
  }
  if (stages & 0x04) {
    stage([&](std::uint16_t* f) { n47::applyGainMap(f, width, height, gm); },
          [&](std::uint16_t* f) { n47::fast::applyGainMap(f, width, height, gm); });
    for (std::size_t i = 0; i < pixels; ++i) N47_FUZZ_CHECK(frame[i] <= 16383);
  }
  if (stages & 0x08) {
    stage([&](std::uint16_t* f) { n47::repairDefectPixels(f, width, height, pm); },
          [&](std::uint16_t* f) { n47::fast::repairDefectPixels(f, width, height, pm); });
  }
  if (stages & 0x10) n47::repairDefectLines(frame.get(), width, height, pm);  // has no fast form
  if (stages & 0x20) {
    stage([&](std::uint16_t* f) { n47::maskBorder(f, width, height); },
          [&](std::uint16_t* f) { n47::fast::maskBorder(f, width, height); });
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const bool border = y < 20 || x < 20 || y >= height - 20 || x >= width - 20;
        if (border) N47_FUZZ_CHECK(frame[static_cast<std::size_t>(y) * width + x] == 16383);
      }
  }
  return 0;
}
