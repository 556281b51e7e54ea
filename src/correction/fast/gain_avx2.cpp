// Gain correction in AVX2, four doubles per instruction; built with -mavx2 for this file only.
#include <immintrin.h>

#include <cstddef>

#include "common/prefetch.h"
#include "correction/apply_gain_map.h"
#include "correction/fast/gain_kernels.h"

namespace n47::fast {
namespace {

// (d * g + 100) with the ceiling applied, truncated; the floor comes after packing. MINPD
// returns its second operand when either is not a number, so a NaN truncates, like everything
// below the 32-bit range, to INT_MIN, which the floor makes 0.
__m128i correctQuad(__m128i difference, __m128 gain) {
  const __m256d product = _mm256_mul_pd(_mm256_cvtepi32_pd(difference), _mm256_cvtps_pd(gain));
  const __m256d value = _mm256_add_pd(product, _mm256_set1_pd(100.0));
  return _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_set1_pd(16383.0), value));
}

}  // namespace

void applyGainMapAvx2(std::uint16_t* frame, int width, int height, ConstGainMapRows gainMap) {
  const __m256i offset = _mm256_set1_epi32(100);
  for (int y = 0; y < height; ++y) {
    std::uint16_t* row = frame + static_cast<std::ptrdiff_t>(y) * width;
    const float* gains = gainMap[y];
    if (y + 1 < height) {
      prefetchBytes(row + width, static_cast<std::size_t>(width) * sizeof(std::uint16_t));
      prefetchBytes(gainMap[y + 1], static_cast<std::size_t>(width) * sizeof(float));
    }
    int x = 0;
    for (; x + 8 <= width; x += 8) {
      const __m256i pixels = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x)));
      const __m256i difference = _mm256_sub_epi32(pixels, offset);
      const __m256 gain = _mm256_loadu_ps(gains + x);
      const __m128i low = correctQuad(_mm256_castsi256_si128(difference), _mm256_castps256_ps128(gain));
      const __m128i high = correctQuad(_mm256_extracti128_si256(difference, 1), _mm256_extractf128_ps(gain, 1));
      const __m128i floored = _mm_max_epi16(_mm_packs_epi32(low, high), _mm_setzero_si128());
      _mm_storeu_si128(reinterpret_cast<__m128i*>(row + x), floored);
    }
    _mm256_zeroupper();
    for (; x < width; ++x) row[x] = gainCorrectedPixel(row[x], gains[x]);
  }
}

}  // namespace n47::fast
