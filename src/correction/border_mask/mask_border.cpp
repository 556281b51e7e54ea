#include "correction/border_mask/mask_border.h"

#include <algorithm>

#include "common/geometry.h"

namespace n47 {

void maskBorder(std::uint16_t* frame, int width, int height) {
  // A frame narrower or lower than two bands lies wholly inside the border; the bands must
  // then stop at the frame's own edges instead of indexing before its first row or column.
  const int rowBand = std::clamp(height, 0, kBorderWidth);
  const int columnBand = std::clamp(width, 0, kBorderWidth);
  for (int k = 0; k < rowBand; ++k) {
    for (int x = 0; x < width; ++x) {
      frame[k * width + x] = kMaxPixelValue;
      frame[(height - 1 - k) * width + x] = kMaxPixelValue;
    }
  }
  for (int k = 0; k < columnBand; ++k) {
    for (int y = 0; y < height; ++y) {
      frame[y * width + k] = kMaxPixelValue;
      frame[y * width + (width - 1 - k)] = kMaxPixelValue;
    }
  }
}

}  // namespace n47
