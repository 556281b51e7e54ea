// The border mask row by row: each row is written once, in one contiguous stretch or two,
// instead of the literal stage's column passes down the whole frame.
#include <cstddef>

#include "common/geometry.h"
#include "correction/border_mask/mask_border.h"

namespace n47::fast {

void maskBorderByRows(std::uint16_t* frame, int width, int height) {
  // A frame without room for both bands of each kind is the literal stage's affair: whatever
  // it does with such a frame, the fast path does the same.
  if (width < 2 * kBorderWidth || height < 2 * kBorderWidth) {
    n47::maskBorder(frame, width, height);
    return;
  }
  for (int y = 0; y < height; ++y) {
    std::uint16_t* row = frame + static_cast<std::ptrdiff_t>(y) * width;
    if (y < kBorderWidth || y >= height - kBorderWidth) {
      for (int x = 0; x < width; ++x) row[x] = kMaxPixelValue;
    } else {
      for (int x = 0; x < kBorderWidth; ++x) row[x] = kMaxPixelValue;
      for (int x = width - kBorderWidth; x < width; ++x) row[x] = kMaxPixelValue;
    }
  }
}

}  // namespace n47::fast
