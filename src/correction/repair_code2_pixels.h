#ifndef N47_CORRECTION_REPAIR_CODE2_PIXELS_H
#define N47_CORRECTION_REPAIR_CODE2_PIXELS_H

#include <cstdint>

#include "common/geometry.h"

namespace n47 {

// Replaces every pixel whose map cell is exactly 2 (rows and columns from 2 on) by the mean
// of the other eight pixels of the 3 x 3 block of which it is the bottom-right corner.
// Scan order matters: a repaired pixel enters later blocks with its new value. No clamp.
void repairCode2Pixels(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap);

}  // namespace n47

#endif
