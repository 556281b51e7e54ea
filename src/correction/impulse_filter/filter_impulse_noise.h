// The impulse-noise filter: the literal stage, and its fast forms, one per instruction set,
// which share the row driver in impulse_filter_rows.h (the vector ones also the block body in
// impulse_filter_vector.h) and give the literal stage's result for any frame.
#ifndef N47_CORRECTION_IMPULSE_FILTER_FILTER_IMPULSE_NOISE_H
#define N47_CORRECTION_IMPULSE_FILTER_FILTER_IMPULSE_NOISE_H

#include "kernels/kernels.h"

namespace n47 {

// Replaces isolated outliers, in place, by the mean of their in-band 3 x 3 neighbours.
// Tests the pixels of rows 6 .. height-3 and columns 6 .. width-3 in scan order; each window
// sees the values earlier positions of the same pass left. Fewer than 9 rows or columns:
// nothing changes. This is the literal form of the rule and the oracle of every faster one.
void filterImpulseNoise(std::uint16_t* frame, int width, int height);

namespace fast {
FrameStage filterImpulseNoisePortable, filterImpulseNoiseSse2, filterImpulseNoiseAvx2, filterImpulseNoiseAvx512;
}

}  // namespace n47

#endif
