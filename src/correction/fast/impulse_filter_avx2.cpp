// The impulse filter with 16 positions per block in AVX2. Built with -mavx2 for this file only
// and reached only when the processor has AVX2.
#include <immintrin.h>

#include "correction/fast/impulse_filter_kernels.h"
#include "correction/fast/impulse_filter_rows.h"

namespace n47::fast {
namespace {

struct Avx2Block {
  static constexpr int kLanes = 16;

  static void slide(std::uint32_t* sums, const std::uint16_t* leaving, const std::uint16_t* entering, int count) {
    int x = 0;
    for (; x + 8 <= count; x += 8) {
      const __m256i out = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(leaving + x)));
      const __m256i in = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(entering + x)));
      __m256i* at = reinterpret_cast<__m256i*>(sums + x);
      _mm256_storeu_si256(at, _mm256_add_epi32(_mm256_sub_epi32(_mm256_loadu_si256(at), out), in));
    }
    for (; x < count; ++x) sums[x] += static_cast<std::uint32_t>(entering[x]) - leaving[x];
  }

  static __m256i windowSums(const std::uint32_t* sums) {
    __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums));
    for (int k = 1; k < 5; ++k) s = _mm256_add_epi32(s, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums + k)));
    return s;
  }

  // m = trunc(float(S - 1) * 0.04f), exact for every sum of 25 16-bit values.
  static __m256i windowMean(__m256i sum) {
    const __m256 scaled =
        _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_sub_epi32(sum, _mm256_set1_epi32(1))), _mm256_set1_ps(0.04f));
    return _mm256_cvttps_epi32(scaled);
  }

  // packus works within 128-bit halves; put the quarters back in position order.
  static __m256i pack(__m256i low, __m256i high) {
    return _mm256_permute4x64_epi64(_mm256_packus_epi32(low, high), 0xd8);
  }

  static std::uint64_t undecided(const std::uint32_t* sums, const std::uint16_t* top, int width) {
    const __m256i sumLow = windowSums(sums);
    const __m256i sumHigh = windowSums(sums + 8);
    const __m256i meanLow = windowMean(sumLow);
    const __m256i meanHigh = windowMean(sumHigh);
    const __m256i mean = pack(meanLow, meanHigh);

    const auto at = [&](int y, int x) {
      return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(top + y * width + x));
    };
    const __m256i one = _mm256_set1_epi16(1);
    const __m256i ones = _mm256_set1_epi16(-1);
    const __m256i zero = _mm256_setzero_si256();

    const __m256i pixel = at(2, 2);
    const __m256i e =
        _mm256_or_si256(_mm256_subs_epu16(pixel, mean), _mm256_subs_epu16(_mm256_subs_epu16(mean, pixel), one));
    const __m256i e2 = _mm256_adds_epu16(e, e);
    const __m256i e5 = _mm256_adds_epu16(_mm256_adds_epu16(e2, e2), e);
    const __m256i e5Saturated = _mm256_cmpeq_epi16(e5, ones);
    const auto undecidedLanes = [&](__m256i below, __m256i rest2) {
      const __m256i below2 = _mm256_adds_epu16(below, below);
      const __m256i twiceD = _mm256_adds_epu16(_mm256_adds_epu16(below2, below2), rest2);
      const __m256i inside = _mm256_cmpeq_epi16(_mm256_subs_epu16(e5, twiceD), zero);
      const __m256i open = _mm256_or_si256(_mm256_andnot_si256(inside, ones), e5Saturated);
      const __m128i bytes = _mm_packs_epi16(_mm256_castsi256_si128(open), _mm256_extracti128_si256(open, 1));
      return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(bytes)));
    };

    __m256i below = zero;
    for (int y = 1; y <= 3; ++y)
      for (int x = 0; x < 5; ++x) below = _mm256_adds_epu16(below, _mm256_subs_epu16(mean, at(y, x)));
    // First without S - 25m (at most 25), which only the undecided lanes need.
    const std::uint64_t open = undecidedLanes(below, zero);
    if (open == 0) return 0;
    for (const int y : kOuterRows)
      for (int x = 0; x < 5; ++x) below = _mm256_adds_epu16(below, _mm256_subs_epu16(mean, at(y, x)));
    const __m256i k25 = _mm256_set1_epi32(25);
    const __m256i rest = pack(_mm256_sub_epi32(sumLow, _mm256_mullo_epi32(meanLow, k25)),
                              _mm256_sub_epi32(sumHigh, _mm256_mullo_epi32(meanHigh, k25)));
    return open & undecidedLanes(below, _mm256_add_epi16(rest, rest));
  }

  // Once a row's blocks are decided, clear the upper halves: whatever runs next, here or in
  // baseline code after the return, then pays no AVX-to-SSE transition penalty.
  static void leaveVectorCode() { _mm256_zeroupper(); }
};

}  // namespace

void filterImpulseNoiseAvx2(std::uint16_t* frame, int width, int height) {
  filterImpulseNoiseRows<Avx2Block>(frame, width, height);
  _mm256_zeroupper();
}

}  // namespace n47::fast
