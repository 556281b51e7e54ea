// The row driver that every vector gain kernel shares. Each instruction-set source file
// includes it and instantiates it with its own kernel. Everything here has internal linkage on
// purpose: one copy per file, compiled with that file's instruction flags, so the linker can
// never hand the baseline path a copy built for wider registers.
//
// Each kernel computes (d * g + 100) in double, as the literal stage does, with the ceiling
// 16383 applied by MINPD(ceiling, value): MINPD returns its second operand when either is not
// a number, so a NaN stays NaN. Truncation then turns a NaN, like everything below the 32-bit
// range, into INT_MIN, and an integer maximum with 0 gives the floor. Truncating before the
// floor is the same as after it, both being monotonic.
#ifndef N47_CORRECTION_GAIN_GAIN_ROWS_H
#define N47_CORRECTION_GAIN_GAIN_ROWS_H

#include <cstddef>
#include <cstdint>

#include "common/geometry.h"
#include "common/prefetch.h"
#include "correction/gain/apply_gain_map.h"

namespace n47::fast {
namespace {

// Kernel: a type with
//   static constexpr int kPixels;   pixels corrected per call
//   static void correct(std::uint16_t* pixels, const float* gains);
//   static void leaveVectorCode();  clears the upper register halves before scalar code runs
template <class Kernel>
void applyGainMapRows(std::uint16_t* frame, int width, int height, ConstGainMapRows gainMap) {
  for (int y = 0; y < height; ++y) {
    std::uint16_t* row = frame + static_cast<std::ptrdiff_t>(y) * width;
    const float* gains = gainMap[y];
    if (y + 1 < height) {
      prefetchBytes(row + width, static_cast<std::size_t>(width) * sizeof(std::uint16_t));
      prefetchBytes(gainMap[y + 1], static_cast<std::size_t>(width) * sizeof(float));
    }
    int x = 0;
    for (; x + Kernel::kPixels <= width; x += Kernel::kPixels) Kernel::correct(row + x, gains + x);
    Kernel::leaveVectorCode();
    for (; x < width; ++x) row[x] = gainCorrectedPixel(row[x], gains[x]);
  }
}

}  // namespace
}  // namespace n47::fast

#endif
