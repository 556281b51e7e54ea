#include "correction/correction_pipeline.h"

namespace n47 {

void correctFrame(const Kernels& kernels, std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap,
                  ConstGainMapRows gainMap, bool calibrationMode) {
  kernels.filterImpulseNoise(frame, width, height);
  kernels.repairCode2Pixels(frame, width, height, pixelMap);
  if (!calibrationMode) kernels.applyGainMap(frame, width, height, gainMap);
  kernels.repairDefectPixels(frame, width, height, pixelMap);
  kernels.repairDefectLines(frame, width, height, pixelMap);
  kernels.filterImpulseNoise(frame, width, height);
  if (!calibrationMode) kernels.maskBorder(frame, width, height);
}

}  // namespace n47
