// A calibration series of fuzzed flats on fuzzed geometry and earlier marks: after every
// step the flat sums, the rewritten frame, the defect map and, at the end, the gain map of
// each fast form (also from the last step in one pass), at every instruction-set level, must
// equal the literal step's bit for bit.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fast_forms.h"
#include "support/maps.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  n47fuzz::FuzzInput input(data, size);
  // Up to 96 x 64: past the 32 the defect map needs on each side, with rows long enough for
  // several vector blocks and the line rules.
  const int width = input.byte() % 97;
  const int height = input.byte() % 65;
  const int count = 1 + input.byte() % 4;
  const std::size_t pixels = static_cast<std::size_t>(width) * height;

  n47test::PixelMap map(width, height);
  map.forEach([&](std::uint8_t& cell) { cell = input.byte() < 16 ? 1 : 0; });  // earlier frames' marks
  auto flatSum = std::make_unique<std::uint32_t[]>(pixels);

  for (int index = 0; index < count; ++index) {
    // A level with noise, outliers and whole weak or hot lines, or any 16-bit value.
    const std::uint8_t kind = input.byte();
    const std::uint16_t level = static_cast<std::uint16_t>(input.value<std::uint16_t>() % 16384);
    auto frame = std::make_unique<std::uint16_t[]>(pixels);
    for (std::size_t i = 0; i < pixels; ++i) {
      const std::uint8_t b = input.byte();
      frame[i] = kind < 128 ? static_cast<std::uint16_t>(level + b % 16)
                            : static_cast<std::uint16_t>(b < 8 ? b * 8191 : level + b % 64);
    }
    for (int lines = input.byte() % 4; lines > 0; --lines) {
      const std::uint8_t where = input.byte();
      const std::uint16_t value = static_cast<std::uint16_t>(input.byte() * 64);
      if (width == 0 || height == 0) break;
      if (where & 1) {
        for (int y = 0; y < height; ++y) frame[static_cast<std::size_t>(y) * width + (where >> 1) % width] = value;
      } else {
        for (int x = 0; x < width; ++x) frame[static_cast<std::size_t>((where >> 1) % height) * width + x] = value;
      }
    }

    const auto sumBefore = n47fuzz::exactCopy(flatSum.get(), pixels);
    n47::literalKernels().accumulateFlatFrame(flatSum.get(), frame.get(), width, height, index, count);
    n47fuzz::checkFastForm(sumBefore.get(), flatSum.get(), pixels, [&](const n47::Kernels& kernels, std::uint32_t* sum) {
      kernels.accumulateFlatFrame(sum, frame.get(), width, height, index, count);
    });
    // The last frame and the gain map in one step, as the detector runs them.
    if (index == count - 1 && pixels != 0) {
      auto literalSum = n47fuzz::exactCopy(sumBefore.get(), pixels);
      n47test::GainMap literalGain(width, height, 0.0f);
      n47::literalKernels().finishFlatSeries(literalSum.get(), frame.get(), width, height, count, literalGain.rows());
      for (const auto level : n47fuzz::fastLevels()) {
        auto fastSum = n47fuzz::exactCopy(sumBefore.get(), pixels);
        n47test::GainMap fastGain(width, height, 0.0f);
        n47::kernelsFor(level).finishFlatSeries(fastSum.get(), frame.get(), width, height, count, fastGain.rows());
        N47_FUZZ_CHECK(std::memcmp(fastSum.get(), literalSum.get(), pixels * 4) == 0);
        N47_FUZZ_CHECK(fastGain.sameBytes(literalGain));
      }
    }

    const auto frameBefore = n47fuzz::exactCopy(frame.get(), pixels);
    const n47test::PixelMap mapBefore = map;
    n47::literalKernels().generateDefectMap(frame.get(), width, height, map.rows());
    for (const auto level : n47fuzz::fastLevels()) {
      auto fastFrame = n47fuzz::exactCopy(frameBefore.get(), pixels);
      n47test::PixelMap fastMap = mapBefore;
      n47::kernelsFor(level).generateDefectMap(fastFrame.get(), width, height, fastMap.rows());
      N47_FUZZ_CHECK(pixels == 0 || std::memcmp(fastFrame.get(), frame.get(), pixels * 2) == 0);
      N47_FUZZ_CHECK(fastMap.sameBytes(map));
    }
  }

  // The gain step divides by the width and the height; the detector's are never 0.
  if (pixels == 0) return 0;
  n47test::GainMap gain(width, height, 0.0f);
  const auto sumBefore = n47fuzz::exactCopy(flatSum.get(), pixels);
  n47::literalKernels().computeGainMap(flatSum.get(), width, height, gain.rows());
  for (const auto level : n47fuzz::fastLevels()) {
    auto fastSum = n47fuzz::exactCopy(sumBefore.get(), pixels);
    n47test::GainMap fastGain(width, height, 0.0f);
    n47::kernelsFor(level).computeGainMap(fastSum.get(), width, height, fastGain.rows());
    N47_FUZZ_CHECK(pixels == 0 || std::memcmp(fastSum.get(), flatSum.get(), pixels * 4) == 0);
    N47_FUZZ_CHECK(fastGain.sameBytes(gain));
  }
  return 0;
}
