// The impulse filter with 8 positions per block in SSE2, the x86 baseline.
#include <emmintrin.h>

#include "correction/fast/impulse_filter_kernels.h"
#include "correction/fast/impulse_filter_rows.h"

namespace n47::fast {
namespace {

struct Sse2Block {
  static constexpr int kLanes = 8;

  static void advance(std::uint32_t* sums, std::uint16_t* averages, const std::uint16_t* top, int width, int count) {
    const __m128i zero = _mm_setzero_si128();
    int x = 0;
    for (; x + 8 <= count; x += 8) {
      const auto at = [&](int y) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + y * width + x)); };
      const __m128i out = at(-1);
      const __m128i in = at(4);
      __m128i* low = reinterpret_cast<__m128i*>(sums + x);
      __m128i* high = reinterpret_cast<__m128i*>(sums + x + 4);
      _mm_storeu_si128(low, _mm_add_epi32(_mm_sub_epi32(_mm_loadu_si128(low), _mm_unpacklo_epi16(out, zero)),
                                          _mm_unpacklo_epi16(in, zero)));
      _mm_storeu_si128(high, _mm_add_epi32(_mm_sub_epi32(_mm_loadu_si128(high), _mm_unpackhi_epi16(out, zero)),
                                           _mm_unpackhi_epi16(in, zero)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(averages + x),
                       _mm_avg_epu16(_mm_avg_epu16(at(0), in), _mm_avg_epu16(at(1), at(3))));
    }
    advanceColumns(sums, averages, top, width, x, count);
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

  static std::uint64_t undecided(const std::uint32_t* sums, const std::uint16_t* averages,
                                 const std::uint16_t* centre) {
    const auto load = [](const std::uint16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    const __m128i one = _mm_set1_epi16(1);
    // SSE2 packs with signed saturation only: means above 32766 arrive as 32767, and those
    // lanes go to the exact rule.
    const __m128i mean = _mm_packs_epi32(windowMean(windowSums(sums)), windowMean(windowSums(sums + 4)));
    const __m128i meanTooHigh = _mm_cmpeq_epi16(mean, _mm_set1_epi16(32767));

    const __m128i pixel = load(centre + 2);
    const __m128i e = _mm_or_si128(_mm_subs_epu16(pixel, mean), _mm_subs_epu16(_mm_subs_epu16(mean, pixel), one));
    const __m128i e2 = _mm_adds_epu16(e, e);
    const __m128i e5 = _mm_adds_epu16(_mm_adds_epu16(e2, e2), e);

    __m128i outer = _mm_subs_epu16(mean, load(averages));
    __m128i middle = _mm_subs_epu16(mean, load(centre));
    for (int x = 1; x < 5; ++x) {
      outer = _mm_adds_epu16(outer, _mm_subs_epu16(mean, load(averages + x)));
      middle = _mm_adds_epu16(middle, _mm_subs_epu16(mean, load(centre + x)));
    }
    const __m128i outer2 = _mm_adds_epu16(outer, outer);
    const __m128i below = _mm_adds_epu16(_mm_adds_epu16(outer2, outer2), middle);
    const __m128i below2 = _mm_adds_epu16(below, below);
    const __m128i twiceD = _mm_adds_epu16(below2, below2);
    // 5e < 2D rather than <=: a saturated 5e then never passes.
    const __m128i inside = _mm_cmpeq_epi16(_mm_subs_epu16(e5, _mm_subs_epu16(twiceD, one)), _mm_setzero_si128());
    const __m128i open = _mm_or_si128(_mm_andnot_si128(inside, _mm_set1_epi16(-1)), meanTooHigh);
    return static_cast<std::uint64_t>(_mm_movemask_epi8(_mm_packs_epi16(open, open)) & 0xff);
  }

  static void leaveVectorCode() {}
};

}  // namespace

void filterImpulseNoiseSse2(std::uint16_t* frame, int width, int height) {
  filterImpulseNoiseRows<Sse2Block>(frame, width, height);
}

}  // namespace n47::fast
