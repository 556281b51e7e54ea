// The pixel repairs' scan for marked cells in SSE2, the x86 baseline.
#include <emmintrin.h>

#include "correction/pixel_repairs/pixel_repairs.h"

namespace n47::fast {
namespace {

std::uint64_t markedIn64(const std::uint8_t* cells) {
  const __m128i zero = _mm_setzero_si128();
  const auto zeros = [&](int k) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + 16 * k));
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero))));
  };
  return ~(zeros(0) | zeros(1) << 16 | zeros(2) << 32 | zeros(3) << 48);
}

}  // namespace
}  // namespace n47::fast

#include "correction/pixel_repairs/marked_cells.h"

N47_DEFINE_PIXEL_REPAIRS(Sse2)
