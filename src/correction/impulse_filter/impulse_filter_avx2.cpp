// The impulse filter with 16 positions per block in AVX2. Built with -mavx2 for this file only
// and reached only when the processor has AVX2.
#define N47_VECTOR_BITS 256
#include "common/x86/vector_width.h"
#include "correction/impulse_filter/filter_impulse_noise.h"

namespace n47::fast {
namespace {

Vector widenLow(Vector v) { return _mm256_cvtepu16_epi32(_mm256_castsi256_si128(v)); }
Vector widenHigh(Vector v) { return _mm256_cvtepu16_epi32(_mm256_extracti128_si256(v, 1)); }

// packus works within 128-bit halves; put the quarters back in position order.
Vector packMeans(Vector low, Vector high) { return _mm256_permute4x64_epi64(_mm256_packus_epi32(low, high), 0xd8); }

std::uint64_t openLanes(Vector e5, Vector twiceD, Vector /*mean*/) {
  // 5e < 2D rather than <=: a saturated 5e then never passes.
  const Vector inside =
      _mm256_cmpeq_epi16(_mm256_subs_epu16(e5, _mm256_subs_epu16(twiceD, _mm256_set1_epi16(1))), _mm256_setzero_si256());
  // Inverted lanes of the inside mask, one bit per position.
  const __m128i bytes = _mm_packs_epi16(_mm256_castsi256_si128(inside), _mm256_extracti128_si256(inside, 1));
  return static_cast<std::uint64_t>(~static_cast<std::uint32_t>(_mm_movemask_epi8(bytes)) & 0xffffu);
}

}  // namespace
}  // namespace n47::fast

#include "correction/impulse_filter/impulse_filter_vector.h"

void n47::fast::filterImpulseNoiseAvx2(std::uint16_t* frame, int width, int height) {
  filterImpulseNoiseRows<VectorBlock>(frame, width, height);
  leaveVectorCode();
}
