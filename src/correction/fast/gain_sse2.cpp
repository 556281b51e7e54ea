// Gain correction in SSE2, two doubles per instruction: the same double-precision steps as the
// literal stage, so every pixel comes out identical.
#include <emmintrin.h>

#include <cstddef>

#include "common/prefetch.h"
#include "correction/apply_gain_map.h"
#include "correction/fast/gain_kernels.h"

namespace n47::fast {
namespace {

// (d * g + 100) with the ceiling 16383 applied, truncated. The floor comes after packing (see
// below): MINPD returns its second operand when either is not a number, so a NaN stays NaN and
// truncates, like everything below the 32-bit range, to INT_MIN, which the floor makes 0.
// Truncating before the floor is the same as after it, both being monotonic.
__m128i correctPair(__m128i difference, __m128 gain) {
  const __m128d product = _mm_mul_pd(_mm_cvtepi32_pd(difference), _mm_cvtps_pd(gain));
  const __m128d value = _mm_add_pd(product, _mm_set1_pd(100.0));
  return _mm_cvttpd_epi32(_mm_min_pd(_mm_set1_pd(16383.0), value));
}

}  // namespace

void applyGainMapSse2(std::uint16_t* frame, int width, int height, ConstGainMapRows gainMap) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i offset = _mm_set1_epi32(100);
  for (int y = 0; y < height; ++y) {
    std::uint16_t* row = frame + static_cast<std::ptrdiff_t>(y) * width;
    const float* gains = gainMap[y];
    if (y + 1 < height) {
      prefetchBytes(row + width, static_cast<std::size_t>(width) * sizeof(std::uint16_t));
      prefetchBytes(gainMap[y + 1], static_cast<std::size_t>(width) * sizeof(float));
    }
    int x = 0;
    for (; x + 8 <= width; x += 8) {
      const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
      const __m128i low = _mm_sub_epi32(_mm_unpacklo_epi16(pixels, zero), offset);
      const __m128i high = _mm_sub_epi32(_mm_unpackhi_epi16(pixels, zero), offset);
      const __m128 gainLow = _mm_loadu_ps(gains + x);
      const __m128 gainHigh = _mm_loadu_ps(gains + x + 4);
      const __m128i r0 = correctPair(low, gainLow);
      const __m128i r1 = correctPair(_mm_shuffle_epi32(low, 0x4e), _mm_movehl_ps(gainLow, gainLow));
      const __m128i r2 = correctPair(high, gainHigh);
      const __m128i r3 = correctPair(_mm_shuffle_epi32(high, 0x4e), _mm_movehl_ps(gainHigh, gainHigh));
      const __m128i first = _mm_unpacklo_epi64(r0, r1);
      const __m128i second = _mm_unpacklo_epi64(r2, r3);
      // Signed packing keeps 0 .. 16383 and sends INT_MIN and every negative value below 0.
      _mm_storeu_si128(reinterpret_cast<__m128i*>(row + x), _mm_max_epi16(_mm_packs_epi32(first, second), zero));
    }
    for (; x < width; ++x) row[x] = gainCorrectedPixel(row[x], gains[x]);
  }
}

}  // namespace n47::fast
