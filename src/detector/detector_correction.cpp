// The Detector's correction operations: thin calls of the stages on its own geometry and
// active maps.
#include "correction/apply_gain_map.h"
#include "correction/fast/fast_correction.h"
#include "correction/filter_impulse_noise.h"
#include "correction/mask_border.h"
#include "correction/repair_code2_pixels.h"
#include "correction/repair_defect_lines.h"
#include "correction/repair_defect_pixels.h"
#include "detector/detector.h"

namespace n47 {

void Detector::setCalibrationMode() { calibrationMode = 1; }

void Detector::clearCalibrationMode() { calibrationMode = 0; }

void Detector::correctImage() {
  const bool calibrating = calibrationMode != 0;  // read once per frame
  fast::correctFrame(image, width, height, pixelMap, gainMap, calibrating);
}

void Detector::filterImpulseNoise(std::uint16_t* frame) { n47::filterImpulseNoise(frame, width, height); }

void Detector::repairCode2Pixels(std::uint16_t* frame) { n47::repairCode2Pixels(frame, width, height, pixelMap); }

void Detector::applyGainMap(std::uint16_t* frame) { n47::applyGainMap(frame, width, height, gainMap); }

void Detector::repairDefectPixels(std::uint16_t* frame) { n47::repairDefectPixels(frame, width, height, pixelMap); }

void Detector::repairDefectLines(std::uint16_t* frame) { n47::repairDefectLines(frame, width, height, pixelMap); }

void Detector::repairRow(std::uint16_t* frame, int y) { n47::repairRow(frame, width, height, y); }

void Detector::repairColumn(std::uint16_t* frame, int x) { n47::repairColumn(frame, width, height, x); }

void Detector::maskBorder(std::uint16_t* frame) { n47::maskBorder(frame, width, height); }

}  // namespace n47
