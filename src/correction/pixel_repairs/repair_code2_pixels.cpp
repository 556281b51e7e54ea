#include "correction/pixel_repairs/pixel_repairs.h"

namespace n47 {

void repairCode2Pixels(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap) {
  for (int y = 2; y <= height - 1; ++y) {
    for (int x = 2; x <= width - 1; ++x) {
      if (pixelMap[y][x] != 2) continue;
      std::int32_t sum = 0;
      for (int by = y - 2; by <= y; ++by) {
        for (int bx = x - 2; bx <= x; ++bx) {
          if (by == y && bx == x) continue;
          sum += frame[by * width + bx];
        }
      }
      frame[y * width + x] = static_cast<std::uint16_t>(sum / 8);
    }
  }
}

}  // namespace n47
