// The pixel repairs' scan for marked cells without vector instructions: eight bytes at a time.
#include <cstring>

#include "correction/pixel_repairs/repair_code2_pixels.h"
#include "correction/pixel_repairs/repair_defect_pixels.h"

namespace n47::fast {
namespace {

std::uint64_t markedIn64(const std::uint8_t* cells) {
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

}  // namespace
}  // namespace n47::fast

#include "correction/pixel_repairs/marked_cells.h"

void n47::fast::repairCode2PixelsPortable(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap) {
  repairCode2PixelsAtMarks(frame, width, height, pixelMap);
}

void n47::fast::repairDefectPixelsPortable(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap) {
  repairDefectPixelsAtMarks(frame, width, height, pixelMap);
}
