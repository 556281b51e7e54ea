// The impulse filter with 8 positions per block in SSE2, the x86 baseline.
#include <emmintrin.h>

#include "correction/fast/impulse_filter_kernels.h"
#include "correction/fast/impulse_filter_rows.h"

namespace n47::fast {
namespace {

struct Sse2Block {
  static constexpr int kLanes = 8;

  static void slide(std::uint32_t* sums, const std::uint16_t* leaving, const std::uint16_t* entering, int count) {
    const __m128i zero = _mm_setzero_si128();
    int x = 0;
    for (; x + 8 <= count; x += 8) {
      const __m128i out = _mm_loadu_si128(reinterpret_cast<const __m128i*>(leaving + x));
      const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(entering + x));
      __m128i* low = reinterpret_cast<__m128i*>(sums + x);
      __m128i* high = reinterpret_cast<__m128i*>(sums + x + 4);
      _mm_storeu_si128(low, _mm_add_epi32(_mm_sub_epi32(_mm_loadu_si128(low), _mm_unpacklo_epi16(out, zero)),
                                          _mm_unpacklo_epi16(in, zero)));
      _mm_storeu_si128(high, _mm_add_epi32(_mm_sub_epi32(_mm_loadu_si128(high), _mm_unpackhi_epi16(out, zero)),
                                           _mm_unpackhi_epi16(in, zero)));
    }
    for (; x < count; ++x) sums[x] += static_cast<std::uint32_t>(entering[x]) - leaving[x];
  }

  static __m128i windowSums(const std::uint32_t* sums) {
    __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums));
    for (int k = 1; k < 5; ++k) s = _mm_add_epi32(s, _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + k)));
    return s;
  }

  // m = trunc(float(S - 1) * 0.04f), exact for every sum of 25 16-bit values.
  static __m128i windowMean(__m128i sum) {
    const __m128 scaled = _mm_mul_ps(_mm_cvtepi32_ps(_mm_sub_epi32(sum, _mm_set1_epi32(1))), _mm_set1_ps(0.04f));
    return _mm_cvttps_epi32(scaled);
  }

  static __m128i times25(__m128i m) {
    return _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(m, 4), _mm_slli_epi32(m, 3)), m);
  }

  static std::uint64_t undecided(const std::uint32_t* sums, const std::uint16_t* top, int width) {
    const __m128i sumLow = windowSums(sums);
    const __m128i sumHigh = windowSums(sums + 4);
    const __m128i meanLow = windowMean(sumLow);
    const __m128i meanHigh = windowMean(sumHigh);
    // Means reach 65534: shift into the signed range to pack without saturating.
    const __m128i bias32 = _mm_set1_epi32(32768);
    const __m128i mean = _mm_xor_si128(
        _mm_packs_epi32(_mm_sub_epi32(meanLow, bias32), _mm_sub_epi32(meanHigh, bias32)), _mm_set1_epi16(-32768));

    const auto at = [&](int y, int x) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + y * width + x)); };
    const __m128i one = _mm_set1_epi16(1);
    const __m128i ones = _mm_set1_epi16(-1);
    const __m128i zero = _mm_setzero_si128();

    // D = (S - 25m) + 2 sum max(m - v, 0); the pixel is inside when 5e <= 2D. Saturating sums
    // are lower bounds of D, so they can only leave a position undecided, never misjudge it.
    const __m128i pixel = at(2, 2);
    const __m128i e = _mm_or_si128(_mm_subs_epu16(pixel, mean), _mm_subs_epu16(_mm_subs_epu16(mean, pixel), one));
    const __m128i e2 = _mm_adds_epu16(e, e);
    const __m128i e5 = _mm_adds_epu16(_mm_adds_epu16(e2, e2), e);
    const __m128i e5Saturated = _mm_cmpeq_epi16(e5, ones);
    const auto undecidedLanes = [&](__m128i below, __m128i rest2) {
      const __m128i below2 = _mm_adds_epu16(below, below);
      const __m128i twiceD = _mm_adds_epu16(_mm_adds_epu16(below2, below2), rest2);
      const __m128i inside = _mm_cmpeq_epi16(_mm_subs_epu16(e5, twiceD), zero);
      const __m128i open = _mm_or_si128(_mm_andnot_si128(inside, ones), e5Saturated);
      return static_cast<std::uint64_t>(_mm_movemask_epi8(_mm_packs_epi16(open, open)) & 0xff);
    };

    __m128i below = zero;
    for (int y = 1; y <= 3; ++y)
      for (int x = 0; x < 5; ++x) below = _mm_adds_epu16(below, _mm_subs_epu16(mean, at(y, x)));
    // First without S - 25m (at most 25), which only the undecided lanes need.
    const std::uint64_t open = undecidedLanes(below, zero);
    if (open == 0) return 0;
    for (const int y : kOuterRows)
      for (int x = 0; x < 5; ++x) below = _mm_adds_epu16(below, _mm_subs_epu16(mean, at(y, x)));
    const __m128i rest = _mm_packs_epi32(_mm_sub_epi32(sumLow, times25(meanLow)), _mm_sub_epi32(sumHigh, times25(meanHigh)));
    return open & undecidedLanes(below, _mm_add_epi16(rest, rest));
  }

  static void leaveVectorCode() {}
};

}  // namespace

void filterImpulseNoiseSse2(std::uint16_t* frame, int width, int height) {
  filterImpulseNoiseRows<Sse2Block>(frame, width, height);
}

}  // namespace n47::fast
