// Gain correction in AVX-512, eight doubles per instruction; built with the AVX-512 flags for
// this file only.
#include <immintrin.h>

#include <cstddef>

#include "common/prefetch.h"
#include "correction/apply_gain_map.h"
#include "correction/fast/gain_kernels.h"

namespace n47::fast {
namespace {

// (d * g + 100) with the ceiling applied, truncated; the floor comes after joining. MINPD
// returns its second operand when either is not a number, so a NaN truncates, like everything
// below the 32-bit range, to INT_MIN, which the floor makes 0.
__m256i correctEight(__m256i difference, __m256 gain) {
  const __m512d product = _mm512_mul_pd(_mm512_cvtepi32_pd(difference), _mm512_cvtps_pd(gain));
  const __m512d value = _mm512_add_pd(product, _mm512_set1_pd(100.0));
  return _mm512_cvttpd_epi32(_mm512_min_pd(_mm512_set1_pd(16383.0), value));
}

}  // namespace

void applyGainMapAvx512(std::uint16_t* frame, int width, int height, ConstGainMapRows gainMap) {
  const __m512i offset = _mm512_set1_epi32(100);
  for (int y = 0; y < height; ++y) {
    std::uint16_t* row = frame + static_cast<std::ptrdiff_t>(y) * width;
    const float* gains = gainMap[y];
    if (y + 1 < height) {
      prefetchBytes(row + width, static_cast<std::size_t>(width) * sizeof(std::uint16_t));
      prefetchBytes(gainMap[y + 1], static_cast<std::size_t>(width) * sizeof(float));
    }
    int x = 0;
    for (; x + 16 <= width; x += 16) {
      const __m512i pixels = _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x)));
      const __m512i difference = _mm512_sub_epi32(pixels, offset);
      const __m512 gain = _mm512_loadu_ps(gains + x);
      const __m256i low = correctEight(_mm512_castsi512_si256(difference), _mm512_castps512_ps256(gain));
      const __m256i high = correctEight(_mm512_extracti64x4_epi64(difference, 1), _mm512_extractf32x8_ps(gain, 1));
      const __m512i joined = _mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1);
      const __m512i both = _mm512_max_epi32(joined, _mm512_setzero_si512());
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + x), _mm512_cvtepi32_epi16(both));
    }
    _mm256_zeroupper();
    for (; x < width; ++x) row[x] = gainCorrectedPixel(row[x], gains[x]);
  }
}

}  // namespace n47::fast
