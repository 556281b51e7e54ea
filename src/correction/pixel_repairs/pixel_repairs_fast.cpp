// The fast pixel repairs, by the scan for marked cells each level uses: eight bytes at a time
// without vector instructions, or 16 at a time in SSE2, the x86 baseline (no flags of its own).
#include <cstring>

#include "common/kernel_config.h"
#include "correction/pixel_repairs/marked_cells.h"
#include "correction/pixel_repairs/pixel_repairs.h"

#if N47_HAVE_X86_KERNELS
#include <emmintrin.h>
#endif

namespace n47::fast {
namespace {

std::uint64_t markedIn64Portable(const std::uint8_t* cells) {
  std::uint64_t words[8];
  std::memcpy(words, cells, sizeof words);
  std::uint64_t marked = 0;
  for (int w = 0; w < 8; ++w) {
    if (words[w] == 0) continue;
    for (int k = 0; k < 8; ++k)
      if (cells[8 * w + k] != 0) marked |= std::uint64_t{1} << (8 * w + k);
  }
  return marked;
}

#if N47_HAVE_X86_KERNELS
std::uint64_t markedIn64Sse2(const std::uint8_t* cells) {
  const __m128i zero = _mm_setzero_si128();
  const auto zeros = [&](int k) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + 16 * k));
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero))));
  };
  return ~(zeros(0) | zeros(1) << 16 | zeros(2) << 32 | zeros(3) << 48);
}
#endif

}  // namespace

void repairCode2PixelsPortable(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap) {
  repairCode2PixelsAtMarks<markedIn64Portable>(frame, width, height, pixelMap);
}
void repairDefectPixelsPortable(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap) {
  repairDefectPixelsAtMarks<markedIn64Portable>(frame, width, height, pixelMap);
}

#if N47_HAVE_X86_KERNELS
void repairCode2PixelsSse2(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap) {
  repairCode2PixelsAtMarks<markedIn64Sse2>(frame, width, height, pixelMap);
}
void repairDefectPixelsSse2(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap) {
  repairDefectPixelsAtMarks<markedIn64Sse2>(frame, width, height, pixelMap);
}
#endif

}  // namespace n47::fast
