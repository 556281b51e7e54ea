// The Detector's calibration operations: one step of a series of flat frames.
#include <cstring>

#include "calibration/fast/fast_calibration.h"
#include "detector/detector.h"

namespace n47 {

int Detector::calibrate(std::uint16_t* frame, int index, int count) {
  if (index == 0) {
    clearPixelMap();
    for (int r = 0; r < mapHeight; ++r) std::memcpy(newPixelMap[r], pixelMap[r], static_cast<std::size_t>(mapWidth));
  }
  accumulateFlatFrame(frame, index, count);
  if (newPixelMap != nullptr) generateDefectMap(frame);
  if (index == count - 1) computeGainMap();
  return 1;
}

void Detector::accumulateFlatFrame(const std::uint16_t* frame, int index, int count) {
  fast::accumulateFlatFrame(flatSum, frame, width, height, index, count);
}

void Detector::generateDefectMap(std::uint16_t* frame) {
  if (newPixelMap == nullptr) return;
  fast::generateDefectMap(frame, width, height, newPixelMap);
}

void Detector::computeGainMap() { fast::computeGainMap(flatSum, width, height, newGainMap); }

}  // namespace n47
