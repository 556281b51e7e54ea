// The gain correction's kernels, one per instruction set; each gives exactly the result of the
// literal stage for any frame shape.
#ifndef N47_CORRECTION_FAST_GAIN_KERNELS_H
#define N47_CORRECTION_FAST_GAIN_KERNELS_H

#include <cstdint>

#include "common/geometry.h"

namespace n47::fast {

void applyGainMapSse2(std::uint16_t* frame, int width, int height, ConstGainMapRows gainMap);
void applyGainMapAvx2(std::uint16_t* frame, int width, int height, ConstGainMapRows gainMap);
void applyGainMapAvx512(std::uint16_t* frame, int width, int height, ConstGainMapRows gainMap);

}  // namespace n47::fast

#endif
