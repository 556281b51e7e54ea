// Gain correction in AVX-512, eight doubles per instruction; built with the AVX-512 flags for
// this file only.
#define N47_VECTOR_BITS 512
#include "common/x86/vector_width.h"
#include "correction/gain/apply_gain_map.h"

namespace n47::fast {
namespace {

__m256i lowHalf(__m512i v) { return _mm512_castsi512_si256(v); }
__m256i highHalf(__m512i v) { return _mm512_extracti64x4_epi64(v, 1); }
__m256 lowHalf(__m512 v) { return _mm512_castps512_ps256(v); }
__m256 highHalf(__m512 v) { return _mm512_extractf32x8_ps(v, 1); }

// Sixteen pixels in, sixteen out: both halves join, the floor is a 32-bit maximum, and
// narrowing keeps the values (0 .. 16383).
Vector widenPixels(const std::uint16_t* p) {
  return _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}
void storeFloored(std::uint16_t* p, __m256i low, __m256i high) {
  const __m512i joined = _mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1);
  const __m512i floored = _mm512_max_epi32(joined, _mm512_setzero_si512());
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm512_cvtepi32_epi16(floored));
}

}  // namespace
}  // namespace n47::fast

#include "correction/gain/gain_rows.h"

void n47::fast::applyGainMapAvx512(std::uint16_t* frame, int width, int height, ConstGainMapRows gainMap) {
  applyGainMapRows<WideGain>(frame, width, height, gainMap);
}
