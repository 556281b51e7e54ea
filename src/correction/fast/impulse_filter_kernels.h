// The impulse filter's kernels, one per instruction set. Each needs 9 <= width <= 2048 and
// height >= 9 and gives exactly the result of the literal filter.
#ifndef N47_CORRECTION_FAST_IMPULSE_FILTER_KERNELS_H
#define N47_CORRECTION_FAST_IMPULSE_FILTER_KERNELS_H

#include <cstdint>

namespace n47::fast {

void filterImpulseNoisePortable(std::uint16_t* frame, int width, int height);
void filterImpulseNoiseSse2(std::uint16_t* frame, int width, int height);
void filterImpulseNoiseAvx2(std::uint16_t* frame, int width, int height);
void filterImpulseNoiseAvx512(std::uint16_t* frame, int width, int height);

}  // namespace n47::fast

#endif
