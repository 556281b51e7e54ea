// The pixel repairs' scan for marked cells without vector instructions: eight bytes at a time.
#include <cstring>

#include "correction/pixel_repairs/pixel_repairs.h"

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

N47_DEFINE_PIXEL_REPAIRS(Portable)
