#include "calibration/calibration_steps.h"

#include <cstddef>

#include "common/geometry.h"

namespace n47 {

void accumulateFlatFrame(std::uint32_t* flatSum, const std::uint16_t* frame, int width, int height, int index,
                         int count) {
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (index == 0) {
    for (std::size_t i = 0; i < pixels; ++i) flatSum[i] = 0;
  }
  for (std::size_t i = 0; i < pixels; ++i) flatSum[i] += frame[i];
  if (index == count - 1) {
    const std::uint32_t frames = static_cast<std::uint32_t>(count);
    for (std::size_t i = 0; i < pixels; ++i) {
      const std::uint32_t average = flatSum[i] / frames;
      flatSum[i] = average > kMaxPixelValue ? kMaxPixelValue : average;
    }
  }
}

}  // namespace n47
