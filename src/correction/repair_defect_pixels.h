#ifndef N47_CORRECTION_REPAIR_DEFECT_PIXELS_H
#define N47_CORRECTION_REPAIR_DEFECT_PIXELS_H

#include <cstdint>

#include "common/geometry.h"

namespace n47 {

// Replaces every pixel with a non-zero map cell (outermost rows and columns excepted) by the
// mean of the good (cell 0) pixels of its centred 3 x 3 block; with no good neighbour it
// keeps its value. Either way the result is limited to 16383.
void repairDefectPixels(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap);

}  // namespace n47

#endif
