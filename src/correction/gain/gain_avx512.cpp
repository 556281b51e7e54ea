// Gain correction in AVX-512, eight doubles per instruction; built with the AVX-512 flags for
// this file only.
#include <immintrin.h>

#include "correction/gain/apply_gain_map.h"
#include "correction/gain/gain_rows.h"

namespace n47::fast {
namespace {

struct Avx512Gain {
  static constexpr int kPixels = 16;

  // Eight pixels: (d * g + 100) with the ceiling applied, truncated; the floor comes later.
  static __m256i correctEight(__m256i difference, __m256 gain) {
    const __m512d product = _mm512_mul_pd(_mm512_cvtepi32_pd(difference), _mm512_cvtps_pd(gain));
    const __m512d value = _mm512_add_pd(product, _mm512_set1_pd(kDarkOffset));
    return _mm512_cvttpd_epi32(_mm512_min_pd(_mm512_set1_pd(kMaxPixelValue), value));
  }

  static void correct(std::uint16_t* pixels, const float* gains) {
    const __m512i values = _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels)));
    const __m512i difference = _mm512_sub_epi32(values, _mm512_set1_epi32(kDarkOffset));
    const __m512 gain = _mm512_loadu_ps(gains);
    const __m256i low = correctEight(_mm512_castsi512_si256(difference), _mm512_castps512_ps256(gain));
    const __m256i high = correctEight(_mm512_extracti64x4_epi64(difference, 1), _mm512_extractf32x8_ps(gain, 1));
    const __m512i joined = _mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1);
    const __m512i floored = _mm512_max_epi32(joined, _mm512_setzero_si512());
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(pixels), _mm512_cvtepi32_epi16(floored));
  }

  static void leaveVectorCode() { _mm256_zeroupper(); }
};

}  // namespace

void applyGainMapAvx512(std::uint16_t* frame, int width, int height, ConstGainMapRows gainMap) {
  applyGainMapRows<Avx512Gain>(frame, width, height, gainMap);
}

}  // namespace n47::fast
