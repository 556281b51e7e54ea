// Gain correction in AVX2, four doubles per instruction; built with -mavx2 for this file only.
#define N47_VECTOR_BITS 256
#include "common/x86/vector_width.h"
#include "correction/gain/apply_gain_map.h"

namespace n47::fast {
namespace {

Vector widenPixels(const std::uint16_t* p) {
  return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}
__m128i lowHalf(__m256i v) { return _mm256_castsi256_si128(v); }
__m128i highHalf(__m256i v) { return _mm256_extracti128_si256(v, 1); }
__m128 lowHalf(__m256 v) { return _mm256_castps256_ps128(v); }
__m128 highHalf(__m256 v) { return _mm256_extractf128_ps(v, 1); }
void storeFloored(std::uint16_t* p, __m128i low, __m128i high) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_max_epi16(_mm_packs_epi32(low, high), _mm_setzero_si128()));
}

}  // namespace
}  // namespace n47::fast

#include "correction/gain/gain_rows.h"

void n47::fast::applyGainMapAvx2(std::uint16_t* frame, int width, int height, ConstGainMapRows gainMap) {
  applyGainMapRows<WideGain>(frame, width, height, gainMap);
}
