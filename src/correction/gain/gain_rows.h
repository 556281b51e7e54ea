// The row driver and the double-precision step that every vector gain kernel shares, and the
// kernel of the sets that differ only in width (AVX2, AVX-512). Each instruction-set source file
// defines N47_VECTOR_BITS, includes common/x86/vector_width.h and then this, and instantiates the
// driver with its kernel. Everything here has internal linkage on purpose: one copy per file,
// compiled with that file's instruction flags, so the linker can never hand the baseline path a
// copy built for wider registers.
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

// (d * g + 100) with the ceiling applied, truncated, on as many lanes as a vector of doubles
// holds: d 32-bit differences from the offset, g the gains (SSE2 takes the low two of each).
// The floor comes later, in integers.
template <class Differences, class Gains>
auto correctLanes(Differences difference, Gains gain) {
  const auto product = N47_MM(mul_pd)(N47_MM(cvtepi32_pd)(difference), N47_MM(cvtps_pd)(gain));
  const auto value = N47_MM(add_pd)(product, N47_MM(set1_pd)(kDarkOffset));
  return N47_MM(cvttpd_epi32)(N47_MM(min_pd)(N47_MM(set1_pd)(kMaxPixelValue), value));
}

#if N47_VECTOR_BITS > 128
// AVX2 and AVX-512: the pixels of one vector of 32-bit lanes, corrected in two halves. The file
// defines widenPixels (kPixels pixels as 32-bit lanes), lowHalf and highHalf of the integer and
// the float vectors, and storeFloored (two halves of results, floored at 0, stored as pixels).
struct WideGain {
  static constexpr int kPixels = N47_VECTOR_BITS / 32;

  static void correct(std::uint16_t* pixels, const float* gains) {
    const Vector difference = N47_MM(sub_epi32)(widenPixels(pixels), N47_MM(set1_epi32)(kDarkOffset));
    const auto gain = N47_MM(loadu_ps)(gains);
    storeFloored(pixels, correctLanes(lowHalf(difference), lowHalf(gain)),
                 correctLanes(highHalf(difference), highHalf(gain)));
  }
};
#endif

// Kernel: a type with
//   static constexpr int kPixels;   pixels corrected per call
//   static void correct(std::uint16_t* pixels, const float* gains);
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
    leaveVectorCode();
    for (; x < width; ++x) row[x] = gainCorrectedPixel(row[x], gains[x]);
  }
}

}  // namespace
}  // namespace n47::fast

#endif
