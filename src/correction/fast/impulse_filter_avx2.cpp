// The impulse filter with 16 positions per block in AVX2. Built with -mavx2 for this file only
// and reached only when the processor has AVX2.
#include <immintrin.h>

#include "correction/fast/impulse_filter_kernels.h"
#include "correction/fast/impulse_filter_rows.h"

namespace n47::fast {
namespace {

struct Avx2Block {
  static constexpr int kLanes = 16;

  static void advance(std::uint32_t* sums, std::uint16_t* averages, const std::uint16_t* top, int width, int count) {
    int x = 0;
    for (; x + 16 <= count; x += 16) {
      const auto at = [&](int y) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(top + y * width + x)); };
      const __m256i out = at(-1);
      const __m256i in = at(4);
      const auto update = [](std::uint32_t* at32, __m128i leaving, __m128i entering) {
        __m256i* sum = reinterpret_cast<__m256i*>(at32);
        const __m256i moved = _mm256_sub_epi32(_mm256_loadu_si256(sum), _mm256_cvtepu16_epi32(leaving));
        _mm256_storeu_si256(sum, _mm256_add_epi32(moved, _mm256_cvtepu16_epi32(entering)));
      };
      update(sums + x, _mm256_castsi256_si128(out), _mm256_castsi256_si128(in));
      update(sums + x + 8, _mm256_extracti128_si256(out, 1), _mm256_extracti128_si256(in, 1));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(averages + x),
                          _mm256_avg_epu16(_mm256_avg_epu16(at(0), in), _mm256_avg_epu16(at(1), at(3))));
    }
    advanceColumns(sums, averages, top, width, x, count);
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

  static std::uint64_t undecided(const std::uint32_t* sums, const std::uint16_t* averages,
                                 const std::uint16_t* centre) {
    const auto load = [](const std::uint16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); };
    const __m256i one = _mm256_set1_epi16(1);
    const __m256i mean = pack(windowMean(windowSums(sums)), windowMean(windowSums(sums + 8)));

    const __m256i pixel = load(centre + 2);
    const __m256i e =
        _mm256_or_si256(_mm256_subs_epu16(pixel, mean), _mm256_subs_epu16(_mm256_subs_epu16(mean, pixel), one));
    const __m256i e2 = _mm256_adds_epu16(e, e);
    const __m256i e5 = _mm256_adds_epu16(_mm256_adds_epu16(e2, e2), e);

    __m256i outer = _mm256_subs_epu16(mean, load(averages));
    __m256i middle = _mm256_subs_epu16(mean, load(centre));
    for (int x = 1; x < 5; ++x) {
      outer = _mm256_adds_epu16(outer, _mm256_subs_epu16(mean, load(averages + x)));
      middle = _mm256_adds_epu16(middle, _mm256_subs_epu16(mean, load(centre + x)));
    }
    const __m256i outer2 = _mm256_adds_epu16(outer, outer);
    const __m256i below = _mm256_adds_epu16(_mm256_adds_epu16(outer2, outer2), middle);
    const __m256i below2 = _mm256_adds_epu16(below, below);
    const __m256i twiceD = _mm256_adds_epu16(below2, below2);
    // 5e < 2D rather than <=: a saturated 5e then never passes.
    const __m256i inside =
        _mm256_cmpeq_epi16(_mm256_subs_epu16(e5, _mm256_subs_epu16(twiceD, one)), _mm256_setzero_si256());
    // Inverted lanes of the inside mask, one bit per position.
    const __m128i bytes = _mm_packs_epi16(_mm256_castsi256_si128(inside), _mm256_extracti128_si256(inside, 1));
    return static_cast<std::uint64_t>(~static_cast<std::uint32_t>(_mm_movemask_epi8(bytes)) & 0xffffu);
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
