#include "correction/mask_border.h"

#include "common/geometry.h"

namespace n47 {

void maskBorder(std::uint16_t* frame, int width, int height) {
  for (int k = 0; k < kBorderWidth; ++k) {
    for (int x = 0; x < width; ++x) {
      frame[k * width + x] = kMaxPixelValue;
      frame[(height - 1 - k) * width + x] = kMaxPixelValue;
    }
  }
  for (int k = 0; k < kBorderWidth; ++k) {
    for (int y = 0; y < height; ++y) {
      frame[y * width + k] = kMaxPixelValue;
      frame[y * width + (width - 1 - k)] = kMaxPixelValue;
    }
  }
}

}  // namespace n47
