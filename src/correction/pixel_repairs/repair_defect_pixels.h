// The defect-pixel repair: the literal stage, and its fast forms, which visit only the marked
// cells (marked_cells.h) and give the literal stage's result for any frame.
#ifndef N47_CORRECTION_PIXEL_REPAIRS_REPAIR_DEFECT_PIXELS_H
#define N47_CORRECTION_PIXEL_REPAIRS_REPAIR_DEFECT_PIXELS_H

#include <cstdint>

#include "common/geometry.h"

namespace n47 {

// Replaces every pixel with a non-zero map cell (outermost rows and columns excepted) by the
// mean of the good (cell 0) pixels of its centred 3 x 3 block; with no good neighbour it
// keeps its value. Either way the result is limited to 16383.
void repairDefectPixels(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap);

namespace fast {
void repairDefectPixelsPortable(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap);
void repairDefectPixelsSse2(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap);
}  // namespace fast

}  // namespace n47

#endif
