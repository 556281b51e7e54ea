// The calibration steps in their fast forms: the same flat sums, maps and frames, bit for bit,
// as the literal steps in src/calibration, which stay as their definition. Geometry the fast
// forms are not built for goes to the literal step. Scratch is bounded and on the stack.
#ifndef N47_CALIBRATION_FAST_FAST_CALIBRATION_H
#define N47_CALIBRATION_FAST_FAST_CALIBRATION_H

#include <cstdint>

#include "common/geometry.h"

namespace n47::fast {

void accumulateFlatFrame(std::uint32_t* flatSum, const std::uint16_t* frame, int width, int height, int index,
                         int count);
void generateDefectMap(std::uint16_t* frame, int width, int height, PixelMapRows map);
void computeGainMap(std::uint32_t* flatSum, int width, int height, GainMapRows gainMap);

}  // namespace n47::fast

#endif
