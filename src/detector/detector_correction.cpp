// The Detector's correction operations: the pipeline over the chosen kernels, on its own
// geometry and active maps.
#include "correction/correction_pipeline.h"
#include "detector/detector.h"

namespace n47 {

void Detector::setCalibrationMode() { calibrationMode = 1; }

void Detector::clearCalibrationMode() { calibrationMode = 0; }

void Detector::correctImage() {
  const bool calibrating = calibrationMode != 0;  // read once per frame
  correctFrame(activeKernels(), image, width, height, pixelMap, gainMap, calibrating);
}

}  // namespace n47
