// The impulse filter with 32 positions per block in AVX-512 (F, BW, VL, DQ). Built with those
// flags for this file only and reached only when the processor has them.
#define N47_VECTOR_BITS 512
#include "common/x86/vector_width.h"
#include "correction/impulse_filter/filter_impulse_noise.h"

namespace n47::fast {
namespace {

// Both halves hold values below 65536: narrowing keeps them, in position order.
Vector packMeans(Vector low, Vector high) {
  return _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvtepi32_epi16(low)), _mm512_cvtepi32_epi16(high), 1);
}

// 5e < 2D rather than <=, as the narrower sets compare.
std::uint64_t openLanes(Vector e5, Vector twiceD, Vector /*mean*/) {
  return static_cast<std::uint64_t>(static_cast<std::uint32_t>(~_mm512_cmplt_epu16_mask(e5, twiceD)));
}

Vector widenLow(Vector v) { return _mm512_cvtepu16_epi32(_mm512_castsi512_si256(v)); }
Vector widenHigh(Vector v) { return _mm512_cvtepu16_epi32(_mm512_extracti64x4_epi64(v, 1)); }

}  // namespace
}  // namespace n47::fast

#include "correction/impulse_filter/impulse_filter_vector.h"

void n47::fast::filterImpulseNoiseAvx512(std::uint16_t* frame, int width, int height) {
  filterImpulseNoiseRows<VectorBlock>(frame, width, height);
  leaveVectorCode();
}
