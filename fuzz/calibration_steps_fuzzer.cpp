// A calibration series of fuzzed flats on fuzzed geometry and earlier marks: after every
// step the flat sums, the rewritten frame, the defect map and, at the end, the gain map of
// each fast form, at every instruction-set level, must equal the literal step's bit for bit.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "calibration/accumulate_flat_frame.h"
#include "calibration/compute_gain_map.h"
#include "calibration/fast/fast_calibration.h"
#include "calibration/generate_defect_map.h"
#include "fast_forms.h"
#include "fuzz_input.h"

namespace {

template <typename T>
n47fuzz::Rows<T> copyOf(const n47fuzz::Rows<T>& rows, int length) {
  n47fuzz::Rows<T> copy(length, static_cast<int>(rows.storage.size()));
  for (std::size_t r = 0; r < rows.storage.size(); ++r)
    std::memcpy(copy.pointers[r], rows.pointers[r], static_cast<std::size_t>(length) * sizeof(T));
  return copy;
}

// Bitwise, so that NaN gains compare equal to themselves.
template <typename T>
bool sameRows(const n47fuzz::Rows<T>& a, const n47fuzz::Rows<T>& b, int length) {
  for (std::size_t r = 0; r < a.storage.size(); ++r)
    if (std::memcmp(a.pointers[r], b.pointers[r], static_cast<std::size_t>(length) * sizeof(T)) != 0) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  n47fuzz::FuzzInput input(data, size);
  // Up to 96 x 64: past the 32 the defect map needs on each side, with rows long enough for
  // several vector blocks and the line rules.
  const int width = input.byte() % 97;
  const int height = input.byte() % 65;
  const int count = 1 + input.byte() % 4;
  const std::size_t pixels = static_cast<std::size_t>(width) * height;

  n47fuzz::Rows<std::uint8_t> map(width + 1, height + 1);
  for (auto& row : map.storage)
    for (int c = 0; c <= width; ++c) row[c] = input.byte() < 16 ? 1 : 0;  // earlier frames' marks
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
    n47::accumulateFlatFrame(flatSum.get(), frame.get(), width, height, index, count);
    n47fuzz::checkFastForm(sumBefore.get(), flatSum.get(), pixels, [&](std::uint32_t* sum) {
      n47::fast::accumulateFlatFrame(sum, frame.get(), width, height, index, count);
    });

    const auto frameBefore = n47fuzz::exactCopy(frame.get(), pixels);
    const auto mapBefore = copyOf(map, width + 1);
    n47::generateDefectMap(frame.get(), width, height, map.pointers.data());
    for (const auto level : n47fuzz::fastLevels()) {
      n47::setInstructionSetCeiling(level);
      auto fastFrame = n47fuzz::exactCopy(frameBefore.get(), pixels);
      auto fastMap = copyOf(mapBefore, width + 1);
      n47::fast::generateDefectMap(fastFrame.get(), width, height, fastMap.pointers.data());
      N47_FUZZ_CHECK(pixels == 0 || std::memcmp(fastFrame.get(), frame.get(), pixels * 2) == 0);
      N47_FUZZ_CHECK(sameRows(fastMap, map, width + 1));
    }
    n47::setInstructionSetCeiling(n47::InstructionSet::kAvx512);
  }

  // The gain step divides by the width and the height; the detector's are never 0.
  if (pixels == 0) return 0;
  n47fuzz::Rows<float> gain(width, height);
  const auto sumBefore = n47fuzz::exactCopy(flatSum.get(), pixels);
  n47::computeGainMap(flatSum.get(), width, height, gain.pointers.data());
  for (const auto level : n47fuzz::fastLevels()) {
    n47::setInstructionSetCeiling(level);
    auto fastSum = n47fuzz::exactCopy(sumBefore.get(), pixels);
    n47fuzz::Rows<float> fastGain(width, height);
    n47::fast::computeGainMap(fastSum.get(), width, height, fastGain.pointers.data());
    N47_FUZZ_CHECK(pixels == 0 || std::memcmp(fastSum.get(), flatSum.get(), pixels * 4) == 0);
    N47_FUZZ_CHECK(sameRows(fastGain, gain, width));
  }
  n47::setInstructionSetCeiling(n47::InstructionSet::kAvx512);
  return 0;
}
