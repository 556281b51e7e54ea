// The impulse filter with 32 positions per block in AVX-512 (F, BW, VL, DQ). Built with those
// flags for this file only and reached only when the processor has them.
#include <immintrin.h>

#include "correction/fast/impulse_filter_kernels.h"
#include "correction/fast/impulse_filter_rows.h"

namespace n47::fast {
namespace {

struct Avx512Block {
  static constexpr int kLanes = 32;

  static void advance(std::uint32_t* sums, std::uint16_t* averages, const std::uint16_t* top, int width, int count) {
    int x = 0;
    for (; x + 32 <= count; x += 32) {
      const auto at = [&](int y) { return _mm512_loadu_si512(top + y * width + x); };
      const __m512i out = at(-1);
      const __m512i in = at(4);
      const auto update = [](std::uint32_t* at32, __m256i leaving, __m256i entering) {
        const __m512i moved = _mm512_sub_epi32(_mm512_loadu_si512(at32), _mm512_cvtepu16_epi32(leaving));
        _mm512_storeu_si512(at32, _mm512_add_epi32(moved, _mm512_cvtepu16_epi32(entering)));
      };
      update(sums + x, _mm512_castsi512_si256(out), _mm512_castsi512_si256(in));
      update(sums + x + 16, _mm512_extracti64x4_epi64(out, 1), _mm512_extracti64x4_epi64(in, 1));
      _mm512_storeu_si512(averages + x,
                          _mm512_avg_epu16(_mm512_avg_epu16(at(0), in), _mm512_avg_epu16(at(1), at(3))));
    }
    advanceColumns(sums, averages, top, width, x, count);
  }

  static __m512i windowSums(const std::uint32_t* sums) {
    __m512i s = _mm512_loadu_si512(sums);
    for (int k = 1; k < 5; ++k) s = _mm512_add_epi32(s, _mm512_loadu_si512(sums + k));
    return s;
  }

  // m = trunc(float(S - 1) * 0.04f), exact for every sum of 25 16-bit values.
  static __m512i windowMean(__m512i sum) {
    const __m512 scaled =
        _mm512_mul_ps(_mm512_cvtepi32_ps(_mm512_sub_epi32(sum, _mm512_set1_epi32(1))), _mm512_set1_ps(0.04f));
    return _mm512_cvttps_epi32(scaled);
  }

  // Both halves hold values below 65536: narrowing keeps them, in position order.
  static __m512i narrow(__m512i low, __m512i high) {
    return _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvtepi32_epi16(low)), _mm512_cvtepi32_epi16(high), 1);
  }

  static std::uint64_t undecided(const std::uint32_t* sums, const std::uint16_t* averages,
                                 const std::uint16_t* centre) {
    const __m512i one = _mm512_set1_epi16(1);
    const __m512i mean = narrow(windowMean(windowSums(sums)), windowMean(windowSums(sums + 16)));

    const __m512i pixel = _mm512_loadu_si512(centre + 2);
    const __m512i e =
        _mm512_or_si512(_mm512_subs_epu16(pixel, mean), _mm512_subs_epu16(_mm512_subs_epu16(mean, pixel), one));
    const __m512i e2 = _mm512_adds_epu16(e, e);
    const __m512i e5 = _mm512_adds_epu16(_mm512_adds_epu16(e2, e2), e);

    __m512i outer = _mm512_subs_epu16(mean, _mm512_loadu_si512(averages));
    __m512i middle = _mm512_subs_epu16(mean, _mm512_loadu_si512(centre));
    for (int x = 1; x < 5; ++x) {
      outer = _mm512_adds_epu16(outer, _mm512_subs_epu16(mean, _mm512_loadu_si512(averages + x)));
      middle = _mm512_adds_epu16(middle, _mm512_subs_epu16(mean, _mm512_loadu_si512(centre + x)));
    }
    const __m512i outer2 = _mm512_adds_epu16(outer, outer);
    const __m512i below = _mm512_adds_epu16(_mm512_adds_epu16(outer2, outer2), middle);
    const __m512i below2 = _mm512_adds_epu16(below, below);
    const __m512i twiceD = _mm512_adds_epu16(below2, below2);
    // 5e < 2D rather than <=: a saturated 5e then never passes.
    const __mmask32 inside = _mm512_cmplt_epu16_mask(e5, twiceD);
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(~inside));
  }

  static void leaveVectorCode() { _mm256_zeroupper(); }
};

}  // namespace

void filterImpulseNoiseAvx512(std::uint16_t* frame, int width, int height) {
  filterImpulseNoiseRows<Avx512Block>(frame, width, height);
  _mm256_zeroupper();
}

}  // namespace n47::fast
