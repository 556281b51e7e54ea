#ifndef N47_CORRECTION_CORRECTION_PIPELINE_H
#define N47_CORRECTION_CORRECTION_PIPELINE_H

#include <cstdint>

#include "common/geometry.h"
#include "kernels/kernels.h"

namespace n47 {

// The whole in-place correction of one frame, by the stages of `kernels`. Normal mode: impulse
// filter, code-2 repair, gain, defect pixels, defect lines, impulse filter, border mask.
// Calibration mode leaves out the gain and the border mask. Over literalKernels() this is the
// literal pipeline; the detector runs it over activeKernels().
void correctFrame(const Kernels& kernels, std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap,
                  ConstGainMapRows gainMap, bool calibrationMode);

}  // namespace n47

#endif
