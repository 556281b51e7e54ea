#include "correction/correction_pipeline.h"

#include "correction/apply_gain_map.h"
#include "correction/filter_impulse_noise.h"
#include "correction/mask_border.h"
#include "correction/repair_code2_pixels.h"
#include "correction/repair_defect_lines.h"
#include "correction/repair_defect_pixels.h"

namespace n47 {

void correctFrame(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap,
                  ConstGainMapRows gainMap, bool calibrationMode) {
  filterImpulseNoise(frame, width, height);
  repairCode2Pixels(frame, width, height, pixelMap);
  if (!calibrationMode) applyGainMap(frame, width, height, gainMap);
  repairDefectPixels(frame, width, height, pixelMap);
  repairDefectLines(frame, width, height, pixelMap);
  filterImpulseNoise(frame, width, height);
  if (!calibrationMode) maskBorder(frame, width, height);
}

}  // namespace n47
