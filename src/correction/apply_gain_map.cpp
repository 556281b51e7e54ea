#include "correction/apply_gain_map.h"

namespace n47 {
namespace {

constexpr double kOffset = static_cast<double>(100.0f);
constexpr double kCeiling = static_cast<double>(16383.0f);

}  // namespace

std::uint16_t gainCorrectedPixel(std::uint16_t pixel, float gain) {
  double value = static_cast<double>(pixel - 100) * static_cast<double>(gain) + kOffset;
  if (value > kCeiling) {
    value = kCeiling;
  } else if (value < 0.0) {
    value = 0.0;
  }
  // NaN passes both tests; converting it to an integer would be undefined.
  if (value != value) return 0;
  return static_cast<std::uint16_t>(value);
}

void applyGainMap(std::uint16_t* frame, int width, int height, ConstGainMapRows gainMap) {
  for (int y = 0; y < height; ++y) {
    std::uint16_t* row = frame + static_cast<std::ptrdiff_t>(y) * width;
    for (int x = 0; x < width; ++x) row[x] = gainCorrectedPixel(row[x], gainMap[y][x]);
  }
}

}  // namespace n47
