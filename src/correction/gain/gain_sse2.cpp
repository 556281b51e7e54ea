// Gain correction in SSE2, two doubles per instruction: the same double-precision steps as the
// literal stage, so every pixel comes out identical.
#include <emmintrin.h>

#include "correction/gain/apply_gain_map.h"
#include "correction/gain/gain_rows.h"

namespace n47::fast {
namespace {

struct Sse2Gain {
  static constexpr int kPixels = 8;

  // Two pixels: (d * g + 100) with the ceiling applied, truncated; the floor comes later.
  static __m128i correctPair(__m128i difference, __m128 gain) {
    const __m128d product = _mm_mul_pd(_mm_cvtepi32_pd(difference), _mm_cvtps_pd(gain));
    const __m128d value = _mm_add_pd(product, _mm_set1_pd(kDarkOffset));
    return _mm_cvttpd_epi32(_mm_min_pd(_mm_set1_pd(kMaxPixelValue), value));
  }

  static void correct(std::uint16_t* pixels, const float* gains) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i offset = _mm_set1_epi32(kDarkOffset);
    const __m128i values = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels));
    const __m128i low = _mm_sub_epi32(_mm_unpacklo_epi16(values, zero), offset);
    const __m128i high = _mm_sub_epi32(_mm_unpackhi_epi16(values, zero), offset);
    const __m128 gainLow = _mm_loadu_ps(gains);
    const __m128 gainHigh = _mm_loadu_ps(gains + 4);
    const __m128i r0 = correctPair(low, gainLow);
    const __m128i r1 = correctPair(_mm_shuffle_epi32(low, 0x4e), _mm_movehl_ps(gainLow, gainLow));
    const __m128i r2 = correctPair(high, gainHigh);
    const __m128i r3 = correctPair(_mm_shuffle_epi32(high, 0x4e), _mm_movehl_ps(gainHigh, gainHigh));
    const __m128i first = _mm_unpacklo_epi64(r0, r1);
    const __m128i second = _mm_unpacklo_epi64(r2, r3);
    // Signed packing keeps 0 .. 16383 and sends INT_MIN and every negative value below 0.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels), _mm_max_epi16(_mm_packs_epi32(first, second), zero));
  }

  static void leaveVectorCode() {}
};

}  // namespace

void applyGainMapSse2(std::uint16_t* frame, int width, int height, ConstGainMapRows gainMap) {
  applyGainMapRows<Sse2Gain>(frame, width, height, gainMap);
}

}  // namespace n47::fast
