// The code-2 and defect-pixel repairs visit only the marked cells: defective cells are rare, so
// the work is one quick scan of the map for non-zero bytes, 64 at a time. At each cell found,
// the rule is the literal one, in the literal scan order. Each repair takes the scan of 64 cells
// as a template argument:
//   std::uint64_t markedIn64(const std::uint8_t* cells)   bit k set: cell k is not 0
// Everything here has internal linkage.
#ifndef N47_CORRECTION_PIXEL_REPAIRS_MARKED_CELLS_H
#define N47_CORRECTION_PIXEL_REPAIRS_MARKED_CELLS_H

#include <bit>
#include <cstddef>
#include <cstdint>

#include "common/geometry.h"
#include "common/prefetch.h"

namespace n47::fast {
namespace {

// Calls visit(x) for every x in first .. last (inclusive) whose cell is not 0, ascending.
template <std::uint64_t (*markedIn64)(const std::uint8_t*), class Visit>
void forEachMarkedCell(const std::uint8_t* cells, int first, int last, Visit visit) {
  int x = first;
  for (; x + 64 <= last + 1; x += 64) {
    for (std::uint64_t marked = markedIn64(cells + x); marked != 0; marked &= marked - 1) {
      visit(x + std::countr_zero(marked));
    }
  }
  for (; x <= last; ++x)
    if (cells[x] != 0) visit(x);
}

// The code-2 repair at the marked cells only.
template <std::uint64_t (*markedIn64)(const std::uint8_t*)>
void repairCode2PixelsAtMarks(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap) {
  for (int y = 2; y <= height - 1; ++y) {
    std::uint16_t* row = frame + static_cast<std::ptrdiff_t>(y) * width;
    if (y + 1 <= height - 1) prefetchBytes(pixelMap[y + 1], static_cast<std::size_t>(width));
    forEachMarkedCell<markedIn64>(pixelMap[y], 2, width - 1, [&](int x) {
      if (pixelMap[y][x] != 2) return;
      const std::uint16_t* above2 = row - 2 * width;
      const std::uint16_t* above1 = row - width;
      const std::int32_t sum = above2[x - 2] + above2[x - 1] + above2[x] + above1[x - 2] + above1[x - 1] +
                               above1[x] + row[x - 2] + row[x - 1];
      row[x] = static_cast<std::uint16_t>(sum / 8);
    });
  }
}

// The defect-pixel repair at the marked cells only.
template <std::uint64_t (*markedIn64)(const std::uint8_t*)>
void repairDefectPixelsAtMarks(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap) {
  for (int y = 1; y <= height - 2; ++y) {
    std::uint16_t* row = frame + static_cast<std::ptrdiff_t>(y) * width;
    prefetchBytes(pixelMap[y + 2], static_cast<std::size_t>(width));  // the map has one more row
    forEachMarkedCell<markedIn64>(pixelMap[y], 1, width - 2, [&](int x) {
      std::int32_t good = 0;
      std::int32_t goodSum = 0;
      for (int dy = -1; dy <= 1; ++dy) {
        const std::uint8_t* cells = pixelMap[y + dy];
        const std::uint16_t* pixels = row + dy * width;
        for (int dx = -1; dx <= 1; ++dx) {
          if (cells[x + dx] != 0) continue;
          ++good;
          goodSum += pixels[x + dx];
        }
      }
      std::int32_t value = good >= 1 ? goodSum / good : row[x];
      if (value > kMaxPixelValue) value = kMaxPixelValue;
      row[x] = static_cast<std::uint16_t>(value);
    });
  }
}

}  // namespace
}  // namespace n47::fast

#endif
