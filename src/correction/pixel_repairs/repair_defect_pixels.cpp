#include "correction/pixel_repairs/pixel_repairs.h"

namespace n47 {

void repairDefectPixels(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap) {
  for (int y = 1; y <= height - 2; ++y) {
    for (int x = 1; x <= width - 2; ++x) {
      if (pixelMap[y][x] == 0) continue;
      std::int32_t good = 0;
      std::int32_t goodSum = 0;
      for (int by = y - 1; by <= y + 1; ++by) {
        for (int bx = x - 1; bx <= x + 1; ++bx) {
          if (pixelMap[by][bx] != 0) continue;
          ++good;
          goodSum += frame[by * width + bx];
        }
      }
      std::int32_t value = good >= 1 ? goodSum / good : frame[y * width + x];
      if (value > kMaxPixelValue) value = kMaxPixelValue;
      frame[y * width + x] = static_cast<std::uint16_t>(value);
    }
  }
}

}  // namespace n47
