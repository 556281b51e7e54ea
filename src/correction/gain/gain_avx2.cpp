// Gain correction in AVX2, four doubles per instruction; built with -mavx2 for this file only.
#include <immintrin.h>

#include "correction/gain/apply_gain_map.h"
#include "correction/gain/gain_rows.h"

namespace n47::fast {
namespace {

struct Avx2Gain {
  static constexpr int kPixels = 8;

  // Four pixels: (d * g + 100) with the ceiling applied, truncated; the floor comes later.
  static __m128i correctQuad(__m128i difference, __m128 gain) {
    const __m256d product = _mm256_mul_pd(_mm256_cvtepi32_pd(difference), _mm256_cvtps_pd(gain));
    const __m256d value = _mm256_add_pd(product, _mm256_set1_pd(kDarkOffset));
    return _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_set1_pd(kMaxPixelValue), value));
  }

  static void correct(std::uint16_t* pixels, const float* gains) {
    const __m256i values = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels)));
    const __m256i difference = _mm256_sub_epi32(values, _mm256_set1_epi32(kDarkOffset));
    const __m256 gain = _mm256_loadu_ps(gains);
    const __m128i low = correctQuad(_mm256_castsi256_si128(difference), _mm256_castps256_ps128(gain));
    const __m128i high = correctQuad(_mm256_extracti128_si256(difference, 1), _mm256_extractf128_ps(gain, 1));
    const __m128i floored = _mm_max_epi16(_mm_packs_epi32(low, high), _mm_setzero_si128());
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels), floored);
  }

  static void leaveVectorCode() { _mm256_zeroupper(); }
};

}  // namespace

void applyGainMapAvx2(std::uint16_t* frame, int width, int height, ConstGainMapRows gainMap) {
  applyGainMapRows<Avx2Gain>(frame, width, height, gainMap);
}

}  // namespace n47::fast
