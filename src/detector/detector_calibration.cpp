// The Detector's calibration operations: one step of a series of flat frames, by the chosen
// kernels.
#include <cstring>

#include "detector/detector.h"
#include "kernels/kernels.h"

namespace n47 {

void Detector::calibrate(std::uint16_t* frame, int index, int count) {
  if (index == 0) {
    clearPixelMap();
    for (int r = 0; r < mapHeight; ++r) std::memcpy(newPixelMap[r], pixelMap[r], static_cast<std::size_t>(mapWidth));
  }
  // The last frame and the gain map in one step, before the defect map rewrites the frame;
  // the defect map reads neither the sums nor the gain map.
  if (index == count - 1) {
    finishFlatSeries(frame, count);
  } else {
    accumulateFlatFrame(frame, index, count);
  }
  generateDefectMap(frame);
}

void Detector::accumulateFlatFrame(const std::uint16_t* frame, int index, int count) {
  activeKernels().accumulateFlatFrame(flatSum, frame, width, height, index, count);
}

void Detector::generateDefectMap(std::uint16_t* frame) {
  activeKernels().generateDefectMap(frame, width, height, newPixelMap);
}

void Detector::finishFlatSeries(const std::uint16_t* frame, int count) {
  activeKernels().finishFlatSeries(flatSum, frame, width, height, count, newGainMap);
}

}  // namespace n47
