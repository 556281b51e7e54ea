#include "correction/gain/apply_gain_map.h"

#include <cstddef>

#include "correction/clamp_to_pixel.h"

namespace n47 {

std::uint16_t gainCorrectedPixel(std::uint16_t pixel, float gain) {
  constexpr double kOffset = kDarkOffset;
  return clampToPixel(static_cast<double>(pixel - kDarkOffset) * static_cast<double>(gain) + kOffset);
}

void applyGainMap(std::uint16_t* frame, int width, int height, ConstGainMapRows gainMap) {
  for (int y = 0; y < height; ++y) {
    std::uint16_t* row = frame + static_cast<std::ptrdiff_t>(y) * width;
    for (int x = 0; x < width; ++x) row[x] = gainCorrectedPixel(row[x], gainMap[y][x]);
  }
}

}  // namespace n47
