#include "correction/impulse_filter/filter_impulse_noise.h"

#include <cstdlib>

#include "common/geometry.h"

namespace n47 {
namespace {

// 0.04f and 0.2f as the float constants, widened: the float 0.04 lies a little below 1/25
// and 0.2f a little above 1/5, and the decisions depend on exactly these values.
constexpr double kOneTwentyFifth = static_cast<double>(0.04f);
constexpr double kOneFifth = static_cast<double>(0.2f);

}  // namespace

void filterImpulseNoise(std::uint16_t* frame, int width, int height) {
  for (int r = 4; r <= height - 5; ++r) {
    for (int c = 4; c <= width - 5; ++c) {
      std::int32_t sum = 0;
      for (int y = r; y < r + 5; ++y) {
        for (int x = c; x < c + 5; ++x) sum += frame[y * width + x];
      }
      const std::int32_t mean = static_cast<std::int32_t>(static_cast<double>(sum) * kOneTwentyFifth);
      std::int32_t deviation = 0;
      for (int y = r; y < r + 5; ++y) {
        for (int x = c; x < c + 5; ++x) deviation += std::abs(frame[y * width + x] - mean);
      }
      const double halfWidth = 2.0 * (static_cast<double>(deviation) * kOneFifth);
      const std::int32_t upper = static_cast<std::int32_t>(mean + halfWidth);
      const std::int32_t lower = static_cast<std::int32_t>(mean - halfWidth);

      std::uint16_t& pixel = frame[(r + 2) * width + (c + 2)];
      if (lower <= pixel && pixel <= upper) continue;

      std::int32_t inBand = 0;
      std::int32_t inBandSum = 0;
      for (int y = r + 1; y <= r + 3; ++y) {
        for (int x = c + 1; x <= c + 3; ++x) {
          if (y == r + 2 && x == c + 2) continue;
          const std::int32_t value = frame[y * width + x];
          if (lower <= value && value <= upper) {
            ++inBand;
            inBandSum += value;
          }
        }
      }
      if (inBand <= 6) continue;
      const double replacement = static_cast<double>(inBandSum) / inBand;
      pixel = replacement > kMaxPixelValue ? kMaxPixelValue : static_cast<std::uint16_t>(replacement);
    }
  }
}

}  // namespace n47
