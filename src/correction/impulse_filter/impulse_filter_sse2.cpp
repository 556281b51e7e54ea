// The impulse filter with 8 positions per block in SSE2, the x86 baseline.
#define N47_VECTOR_BITS 128
#include "common/x86/vector_width.h"
#include "correction/impulse_filter/filter_impulse_noise.h"

namespace n47::fast {
namespace {

// SSE2 has no zero extension of 16-bit lanes: interleave them with zeros.
Vector widenLow(Vector v) { return _mm_unpacklo_epi16(v, _mm_setzero_si128()); }
Vector widenHigh(Vector v) { return _mm_unpackhi_epi16(v, _mm_setzero_si128()); }

// SSE2 packs with signed saturation only: means above 32766 arrive as 32767, and openLanes
// sends those lanes to the exact rule.
Vector packMeans(Vector low, Vector high) { return _mm_packs_epi32(low, high); }

std::uint64_t openLanes(Vector e5, Vector twiceD, Vector mean) {
  const Vector meanTooHigh = _mm_cmpeq_epi16(mean, _mm_set1_epi16(32767));
  // 5e < 2D rather than <=: a saturated 5e then never passes.
  const Vector inside =
      _mm_cmpeq_epi16(_mm_subs_epu16(e5, _mm_subs_epu16(twiceD, _mm_set1_epi16(1))), _mm_setzero_si128());
  const Vector open = _mm_or_si128(_mm_andnot_si128(inside, _mm_set1_epi16(-1)), meanTooHigh);
  return static_cast<std::uint64_t>(_mm_movemask_epi8(_mm_packs_epi16(open, open)) & 0xff);
}

}  // namespace
}  // namespace n47::fast

#include "correction/impulse_filter/impulse_filter_vector.h"

void n47::fast::filterImpulseNoiseSse2(std::uint16_t* frame, int width, int height) {
  filterImpulseNoiseRows<VectorBlock>(frame, width, height);
}
