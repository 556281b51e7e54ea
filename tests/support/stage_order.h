// The literal stages one at a time, in the order the design gives for each mode, for the tests
// that check the pipeline's order itself (the pipeline states it once, over a kernel table).
#ifndef N47_TESTS_SUPPORT_STAGE_ORDER_H
#define N47_TESTS_SUPPORT_STAGE_ORDER_H

#include <functional>
#include <vector>

#include "common/geometry.h"
#include "correction/border_mask/mask_border.h"
#include "correction/defect_lines/repair_defect_lines.h"
#include "correction/gain/apply_gain_map.h"
#include "correction/impulse_filter/filter_impulse_noise.h"
#include "correction/pixel_repairs/pixel_repairs.h"
#include "maps.h"

namespace n47test {

using Stage = std::function<void(Frame&)>;

inline std::vector<Stage> literalStagesInOrder(int w, int h, n47::ConstPixelMapRows map, n47::ConstGainMapRows gain,
                                               bool calibrationMode) {
  std::vector<Stage> stages = {
      [=](Frame& f) { n47::filterImpulseNoise(f.data(), w, h); },
      [=](Frame& f) { n47::repairCode2Pixels(f.data(), w, h, map); },
      [=](Frame& f) { n47::applyGainMap(f.data(), w, h, gain); },
      [=](Frame& f) { n47::repairDefectPixels(f.data(), w, h, map); },
      [=](Frame& f) { n47::repairDefectLines(f.data(), w, h, map); },
      [=](Frame& f) { n47::filterImpulseNoise(f.data(), w, h); },
      [=](Frame& f) { n47::maskBorder(f.data(), w, h); },
  };
  if (calibrationMode) {  // no border mask, no gain
    stages.erase(stages.begin() + 6);
    stages.erase(stages.begin() + 2);
  }
  return stages;
}

}  // namespace n47test

#endif
