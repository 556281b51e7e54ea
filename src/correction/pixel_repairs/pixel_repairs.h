// The two pixel repairs: their literal stages, and their fast forms, which visit only the marked
// cells (marked_cells.h) and give the literal stages' results for any frame.
#ifndef N47_CORRECTION_PIXEL_REPAIRS_PIXEL_REPAIRS_H
#define N47_CORRECTION_PIXEL_REPAIRS_PIXEL_REPAIRS_H

#include "kernels/kernels.h"

namespace n47 {

// Replaces every pixel whose map cell is exactly 2 (rows and columns from 2 on) by the mean
// of the other eight pixels of the 3 x 3 block of which it is the bottom-right corner.
// Scan order matters: a repaired pixel enters later blocks with its new value. No clamp.
void repairCode2Pixels(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap);

// Replaces every pixel with a non-zero map cell (outermost rows and columns excepted) by the
// mean of the good (cell 0) pixels of its centred 3 x 3 block; with no good neighbour it
// keeps its value. Either way the result is limited to 16383.
void repairDefectPixels(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap);

namespace fast {
PixelMapStage repairCode2PixelsPortable, repairCode2PixelsSse2;
PixelMapStage repairDefectPixelsPortable, repairDefectPixelsSse2;
}

}  // namespace n47

#endif
