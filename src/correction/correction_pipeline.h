#ifndef N47_CORRECTION_CORRECTION_PIPELINE_H
#define N47_CORRECTION_CORRECTION_PIPELINE_H

#include <cstdint>

#include "common/geometry.h"

namespace n47 {

// The whole in-place correction of one frame. Normal mode: impulse filter, code-2 repair,
// gain, defect pixels, defect lines, impulse filter, border mask. Calibration mode leaves
// out the gain and the border mask.
void correctFrame(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap,
                  ConstGainMapRows gainMap, bool calibrationMode);

}  // namespace n47

#endif
