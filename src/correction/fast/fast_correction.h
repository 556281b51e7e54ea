// The correction stages and pipeline in their fast forms: the same results, bit for bit, as
// the literal stages in src/correction, which stay as their definition. Each picks the widest
// kernel the processor offers (see common/instruction_set.h) and hands frames its kernels are
// not built for to the literal stage. Scratch is bounded and on the stack; nothing is allocated.
#ifndef N47_CORRECTION_FAST_FAST_CORRECTION_H
#define N47_CORRECTION_FAST_FAST_CORRECTION_H

#include <cstdint>

#include "common/geometry.h"

namespace n47::fast {

void filterImpulseNoise(std::uint16_t* frame, int width, int height);
void repairCode2Pixels(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap);
void applyGainMap(std::uint16_t* frame, int width, int height, ConstGainMapRows gainMap);
void repairDefectPixels(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap);
void maskBorder(std::uint16_t* frame, int width, int height);

// The whole pipeline, in the stage order of each mode.
void correctFrame(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap, ConstGainMapRows gainMap,
                  bool calibrationMode);

}  // namespace n47::fast

#endif
