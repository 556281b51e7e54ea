// Gain correction in SSE2, two doubles per instruction: the same double-precision steps as the
// literal stage, so every pixel comes out identical.
#define N47_VECTOR_BITS 128
#include "common/x86/vector_width.h"
#include "correction/gain/apply_gain_map.h"
#include "correction/gain/gain_rows.h"

namespace n47::fast {
namespace {

// SSE2 converts only the low two lanes to double and has no zero extension of 16-bit lanes:
// eight pixels go as four pairs.
struct Sse2Gain {
  static constexpr int kPixels = 8;

  static void correct(std::uint16_t* pixels, const float* gains) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i offset = _mm_set1_epi32(kDarkOffset);
    const __m128i values = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels));
    const __m128i low = _mm_sub_epi32(_mm_unpacklo_epi16(values, zero), offset);
    const __m128i high = _mm_sub_epi32(_mm_unpackhi_epi16(values, zero), offset);
    const __m128 gainLow = _mm_loadu_ps(gains);
    const __m128 gainHigh = _mm_loadu_ps(gains + 4);
    const __m128i r0 = correctLanes(low, gainLow);
    const __m128i r1 = correctLanes(_mm_shuffle_epi32(low, 0x4e), _mm_movehl_ps(gainLow, gainLow));
    const __m128i r2 = correctLanes(high, gainHigh);
    const __m128i r3 = correctLanes(_mm_shuffle_epi32(high, 0x4e), _mm_movehl_ps(gainHigh, gainHigh));
    // Signed packing keeps 0 .. 16383 and sends INT_MIN and every negative value below 0.
    const __m128i packed = _mm_packs_epi32(_mm_unpacklo_epi64(r0, r1), _mm_unpacklo_epi64(r2, r3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels), _mm_max_epi16(packed, zero));
  }
};

}  // namespace
}  // namespace n47::fast

void n47::fast::applyGainMapSse2(std::uint16_t* frame, int width, int height, ConstGainMapRows gainMap) {
  applyGainMapRows<Sse2Gain>(frame, width, height, gainMap);
}
