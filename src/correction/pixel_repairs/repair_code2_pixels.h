// The code-2 repair: the literal stage, and its fast forms, which visit only the marked cells
// (marked_cells.h) and give the literal stage's result for any frame.
#ifndef N47_CORRECTION_PIXEL_REPAIRS_REPAIR_CODE2_PIXELS_H
#define N47_CORRECTION_PIXEL_REPAIRS_REPAIR_CODE2_PIXELS_H

#include <cstdint>

#include "common/geometry.h"

namespace n47 {

// Replaces every pixel whose map cell is exactly 2 (rows and columns from 2 on) by the mean
// of the other eight pixels of the 3 x 3 block of which it is the bottom-right corner.
// Scan order matters: a repaired pixel enters later blocks with its new value. No clamp.
void repairCode2Pixels(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap);

namespace fast {
void repairCode2PixelsPortable(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap);
void repairCode2PixelsSse2(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap);
}  // namespace fast

}  // namespace n47

#endif
