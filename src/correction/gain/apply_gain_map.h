// Gain correction: the literal stage, and its fast forms, one per x86 instruction set, which
// share the row driver in gain_rows.h and give the literal stage's result for any frame.
#ifndef N47_CORRECTION_GAIN_APPLY_GAIN_MAP_H
#define N47_CORRECTION_GAIN_APPLY_GAIN_MAP_H

#include "kernels/kernels.h"

namespace n47 {

// Flat-field correction about the dark offset 100: v = (p - 100) * gain + 100 in double,
// limited to 0 .. 16383 and truncated; a result that is not a number stores 0.
void applyGainMap(std::uint16_t* frame, int width, int height, ConstGainMapRows gainMap);

// The same rule for one pixel.
std::uint16_t gainCorrectedPixel(std::uint16_t pixel, float gain);

namespace fast {
GainStage applyGainMapSse2, applyGainMapAvx2, applyGainMapAvx512;
}

}  // namespace n47

#endif
