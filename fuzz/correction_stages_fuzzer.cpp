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

#include "correction/correction_pipeline.h"
#include "fast_forms.h"
#include "fuzz_input.h"
#include "support/reference_pipeline.h"

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

  n47test::PixelMap pixelMap(width, height);
  pixelMap.forEach([&](std::uint8_t& cell) { cell = mapCode(input); });
  n47test::GainMap gainMap(width, height);
  gainMap.forEach([&](float& g) { g = gain(input); });

  n47test::Frame original(width, height);
  const std::uint8_t range = input.byte();
  for (auto& p : original) {
    const std::uint16_t v = input.value<std::uint16_t>();
    p = range < 128 ? v % 16384 : v;
  }
  // An exact heap block: a vector of no pixels would hand out a null pointer.
  auto frame = std::make_unique<std::uint16_t[]>(pixels);
  if (pixels > 0) std::memcpy(frame.get(), original.data(), pixels * sizeof(std::uint16_t));
  const auto* const* pm = pixelMap.rows();
  const auto* const* gm = gainMap.rows();

  if ((stages & 0x40) != 0) {
    n47::correctFrame(n47::literalKernels(), frame.get(), width, height, pm, gm, calibrationMode);
    n47fuzz::checkFastForm(original.data(), frame.get(), pixels, [&](const n47::Kernels& kernels, std::uint16_t* copy) {
      n47::correctFrame(kernels, copy, width, height, pm, gm, calibrationMode);
    });
    n47test::Frame expected = original;
    n47test::referenceCorrect(expected, pixelMap, gainMap, calibrationMode);
    N47_FUZZ_CHECK(std::equal(expected.begin(), expected.end(), frame.get()));
    return 0;
  }

  // Single stages, in the order the bits give, each on the previous one's output.
  const auto stage = [&](auto run) {
    const auto input = n47fuzz::exactCopy(frame.get(), pixels);
    run(n47::literalKernels(), frame.get());
    n47fuzz::checkFastForm(input.get(), frame.get(), pixels, run);
  };
  if (stages & 0x01) stage([&](const n47::Kernels& k, std::uint16_t* f) { k.filterImpulseNoise(f, width, height); });
  if (stages & 0x02) stage([&](const n47::Kernels& k, std::uint16_t* f) { k.repairCode2Pixels(f, width, height, pm); });
  if (stages & 0x04) {
    stage([&](const n47::Kernels& k, std::uint16_t* f) { k.applyGainMap(f, width, height, gm); });
    for (std::size_t i = 0; i < pixels; ++i) N47_FUZZ_CHECK(frame[i] <= 16383);
  }
  if (stages & 0x08) stage([&](const n47::Kernels& k, std::uint16_t* f) { k.repairDefectPixels(f, width, height, pm); });
  if (stages & 0x10) stage([&](const n47::Kernels& k, std::uint16_t* f) { k.repairDefectLines(f, width, height, pm); });
  if (stages & 0x20) {
    stage([&](const n47::Kernels& k, std::uint16_t* f) { k.maskBorder(f, width, height); });
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const bool border = y < 20 || x < 20 || y >= height - 20 || x >= width - 20;
        if (border) N47_FUZZ_CHECK(frame[static_cast<std::size_t>(y) * width + x] == 16383);
      }
  }
  return 0;
}
