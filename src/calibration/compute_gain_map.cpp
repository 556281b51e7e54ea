#include "calibration/calibration_steps.h"

#include <cstddef>

namespace n47 {

void computeGainMap(std::uint32_t* flatSum, int width, int height, GainMapRows gainMap) {
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  // A dark pixel stops at 0 rather than wrapping to a huge value that would inflate the mean.
  for (std::size_t i = 0; i < pixels; ++i) flatSum[i] = flatSum[i] > kDarkOffset ? flatSum[i] - kDarkOffset : 0;

  // The total is kept wide: averaged flats of 14-bit pixels keep it far below 2^31, but a
  // sum left unaveraged (or any 32-bit input) would overflow a 32-bit signed total.
  std::int64_t total = 0;
  for (int r = 0; r < height; ++r) {
    const std::uint32_t* row = flatSum + static_cast<std::size_t>(r) * width;
    std::uint64_t rowSum = 0;
    for (int c = 0; c < width; ++c) rowSum += row[c];
    total += static_cast<std::int64_t>(rowSum / static_cast<std::uint64_t>(width));
  }
  const float mean = static_cast<float>(total / height);

  for (int r = 0; r < height; ++r) {
    const std::uint32_t* row = flatSum + static_cast<std::size_t>(r) * width;
    for (int c = 0; c < width; ++c) {
      gainMap[r][c] = row[c] == 0 ? 0.0f : static_cast<float>(static_cast<double>(mean) / row[c]);
    }
  }
}

void finishFlatSeries(std::uint32_t* flatSum, const std::uint16_t* frame, int width, int height, int count,
                      GainMapRows gainMap) {
  accumulateFlatFrame(flatSum, frame, width, height, count - 1, count);
  computeGainMap(flatSum, width, height, gainMap);
}

}  // namespace n47
