// The impulse filter's vector block, written once for every width. An instruction-set file
// defines N47_VECTOR_BITS, includes common/x86/vector_width.h, defines the few steps whose
// instructions differ in more than width, and then includes this:
//   Vector widenLow(Vector v), widenHigh(Vector v)
//     the lower and upper half of the 16-bit lanes as 32-bit lanes, in position order
//   Vector packMeans(Vector low, Vector high)
//     two vectors of 32-bit means as one of 16-bit lanes, in position order
//   std::uint64_t openLanes(Vector e5, Vector twiceD, Vector mean)
//     bit i set: lane i is not certainly inside its band (5e < 2D not shown) and goes to the
//     exact rule
// See impulse_filter_rows.h for the bound the block computes and why it is safe.
#ifndef N47_CORRECTION_IMPULSE_FILTER_IMPULSE_FILTER_VECTOR_H
#define N47_CORRECTION_IMPULSE_FILTER_IMPULSE_FILTER_VECTOR_H

#include <cstdint>

#include "correction/impulse_filter/impulse_filter_rows.h"

namespace n47::fast {
namespace {

struct VectorBlock {
  static constexpr int kLanes = N47_VECTOR_BITS / 16;

  static void advance(std::uint32_t* sums, std::uint16_t* spreads, std::uint16_t* steps, const std::uint16_t* top,
                      int width, int count) {
    const auto distance = [](Vector a, Vector b) {
      return N47_MM_SI(or)(N47_MM(subs_epu16)(a, b), N47_MM(subs_epu16)(b, a));
    };
    int x = 0;
    for (; x + kLanes <= count; x += kLanes) {
      const auto at = [&](int y) { return loadVector(top + y * width + x); };
      const Vector out = at(-1);
      const Vector in = at(4);
      const auto update = [](std::uint32_t* at32, Vector leaving, Vector entering) {
        storeVector(at32, N47_MM(add_epi32)(N47_MM(sub_epi32)(loadVector(at32), leaving), entering));
      };
      update(sums + x, widenLow(out), widenLow(in));
      update(sums + x + kLanes / 2, widenHigh(out), widenHigh(in));
      storeVector(spreads + x, N47_MM(adds_epu16)(distance(at(0), at(1)), distance(at(3), in)));
      storeVector(steps + x, distance(at(2), loadVector(top + 2 * width + x + 1)));
    }
    advanceColumns(sums, spreads, steps, top, width, x, count);
  }

  static Vector windowSums(const std::uint32_t* sums) {
    Vector s = loadVector(sums);
    for (int k = 1; k < 5; ++k) s = N47_MM(add_epi32)(s, loadVector(sums + k));
    return s;
  }

  // m = trunc(float(S - 1) * 0.04f), exact for every sum of 25 16-bit values.
  static Vector windowMean(Vector sum) {
    const auto scaled = N47_MM(mul_ps)(N47_MM(cvtepi32_ps)(N47_MM(sub_epi32)(sum, N47_MM(set1_epi32)(1))),
                                       N47_MM(set1_ps)(0.04f));
    return N47_MM(cvttps_epi32)(scaled);
  }

  static std::uint64_t undecided(const std::uint32_t* sums, const std::uint16_t* spreads,
                                 const std::uint16_t* steps, const std::uint16_t* centre) {
    const auto adds = [](Vector a, Vector b) { return N47_MM(adds_epu16)(a, b); };
    const auto subs = [](Vector a, Vector b) { return N47_MM(subs_epu16)(a, b); };
    const Vector one = N47_MM(set1_epi16)(1);
    const Vector mean = packMeans(windowMean(windowSums(sums)), windowMean(windowSums(sums + kLanes / 2)));

    const Vector pixel = loadVector(centre + 2);
    const Vector e = N47_MM_SI(or)(subs(pixel, mean), subs(subs(mean, pixel), one));
    const Vector e2 = adds(e, e);
    const Vector e5 = adds(adds(e2, e2), e);

    Vector bound = adds(loadVector(steps), loadVector(steps + 3));
    for (int x = 0; x < 5; ++x) bound = adds(bound, loadVector(spreads + x));
    return openLanes(e5, adds(bound, bound), mean);
  }

  // The exact rule's D, one window row per 128-bit step at every width. Each load ends at the
  // window's last column, so it never reads past the frame; the three values before the window
  // are masked off. m < 65536, so every |v - m| fits an unsigned 16-bit lane.
  static std::int32_t windowDeviation(const std::uint16_t* top, int width, std::int32_t mean) {
    const __m128i m = _mm_set1_epi16(static_cast<short>(mean));
    const __m128i window = _mm_set_epi16(-1, -1, -1, -1, -1, 0, 0, 0);
    const __m128i zero = _mm_setzero_si128();
    __m128i total = zero;
    for (int y = 0; y < 5; ++y) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + y * width - 3));
      const __m128i d = _mm_and_si128(_mm_or_si128(_mm_subs_epu16(v, m), _mm_subs_epu16(m, v)), window);
      total = _mm_add_epi32(total, _mm_add_epi32(_mm_unpacklo_epi16(d, zero), _mm_unpackhi_epi16(d, zero)));
    }
    total = _mm_add_epi32(total, _mm_shuffle_epi32(total, 0x4e));
    total = _mm_add_epi32(total, _mm_shuffle_epi32(total, 0xb1));
    return _mm_cvtsi128_si32(total);
  }

  static void leaveVectorCode() { fast::leaveVectorCode(); }
};

}  // namespace
}  // namespace n47::fast

#endif
