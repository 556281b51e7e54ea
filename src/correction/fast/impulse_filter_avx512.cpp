// The impulse filter with 32 positions per block in AVX-512 (F, BW, VL, DQ). Built with those
// flags for this file only and reached only when the processor has them.
#include <immintrin.h>

#include "correction/fast/impulse_filter_kernels.h"
#include "correction/fast/impulse_filter_rows.h"

namespace n47::fast {
namespace {

struct Avx512Block {
  static constexpr int kLanes = 32;

  static void slide(std::uint32_t* sums, const std::uint16_t* leaving, const std::uint16_t* entering, int count) {
    int x = 0;
    for (; x + 16 <= count; x += 16) {
      const __m512i out = _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(leaving + x)));
      const __m512i in = _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(entering + x)));
      _mm512_storeu_si512(sums + x, _mm512_add_epi32(_mm512_sub_epi32(_mm512_loadu_si512(sums + x), out), in));
    }
    for (; x < count; ++x) sums[x] += static_cast<std::uint32_t>(entering[x]) - leaving[x];
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

  static std::uint64_t undecided(const std::uint32_t* sums, const std::uint16_t* top, int width) {
    const __m512i sumLow = windowSums(sums);
    const __m512i sumHigh = windowSums(sums + 16);
    const __m512i meanLow = windowMean(sumLow);
    const __m512i meanHigh = windowMean(sumHigh);
    const __m512i mean = narrow(meanLow, meanHigh);
    const __m512i k25 = _mm512_set1_epi32(25);
    const __m512i rest = narrow(_mm512_sub_epi32(sumLow, _mm512_mullo_epi32(meanLow, k25)),
                                _mm512_sub_epi32(sumHigh, _mm512_mullo_epi32(meanHigh, k25)));
    const __m512i rest2 = _mm512_add_epi16(rest, rest);

    const auto at = [&](int y, int x) { return _mm512_loadu_si512(top + y * width + x); };
    const __m512i one = _mm512_set1_epi16(1);
    const __m512i ones = _mm512_set1_epi16(-1);

    const __m512i pixel = at(2, 2);
    const __m512i e =
        _mm512_or_si512(_mm512_subs_epu16(pixel, mean), _mm512_subs_epu16(_mm512_subs_epu16(mean, pixel), one));
    const __m512i e2 = _mm512_adds_epu16(e, e);
    const __m512i e5 = _mm512_adds_epu16(_mm512_adds_epu16(e2, e2), e);
    const __mmask32 e5Exact = _mm512_cmpneq_epi16_mask(e5, ones);
    const auto undecidedLanes = [&](__m512i below) {
      const __m512i below2 = _mm512_adds_epu16(below, below);
      const __m512i twiceD = _mm512_adds_epu16(_mm512_adds_epu16(below2, below2), rest2);
      const __mmask32 inside = _mm512_mask_cmple_epu16_mask(e5Exact, e5, twiceD);
      return static_cast<std::uint64_t>(static_cast<std::uint32_t>(~inside));
    };

    __m512i below = _mm512_setzero_si512();
    for (int y = 1; y <= 3; ++y)
      for (int x = 0; x < 5; ++x) below = _mm512_adds_epu16(below, _mm512_subs_epu16(mean, at(y, x)));
    std::uint64_t open = undecidedLanes(below);
    if (open == 0) return 0;
    for (const int y : kOuterRows)
      for (int x = 0; x < 5; ++x) below = _mm512_adds_epu16(below, _mm512_subs_epu16(mean, at(y, x)));
    return open & undecidedLanes(below);
  }

  static void leaveVectorCode() { _mm256_zeroupper(); }
};

}  // namespace

void filterImpulseNoiseAvx512(std::uint16_t* frame, int width, int height) {
  filterImpulseNoiseRows<Avx512Block>(frame, width, height);
  _mm256_zeroupper();
}

}  // namespace n47::fast
