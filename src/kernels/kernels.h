// The one table of kernels: every correction stage and calibration step that has forms for
// several instruction sets, as function pointers. The literal stages are one table; each
// instruction-set level has another, chosen once per process (and again only when a test or
// benchmark moves the ceiling). Every table gives the same results, bit for bit, for any
// geometry: a fast form hands a frame it is not built for to the literal stage itself.
#ifndef N47_KERNELS_KERNELS_H
#define N47_KERNELS_KERNELS_H

#include <cstdint>

#include "common/geometry.h"
#include "common/instruction_set.h"

namespace n47 {

struct Kernels {
  // Correction stages, in place on a frame of width x height.
  void (*filterImpulseNoise)(std::uint16_t* frame, int width, int height);
  void (*repairCode2Pixels)(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap);
  void (*applyGainMap)(std::uint16_t* frame, int width, int height, ConstGainMapRows gainMap);
  void (*repairDefectPixels)(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap);
  void (*repairDefectLines)(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap);
  void (*maskBorder)(std::uint16_t* frame, int width, int height);

  // Calibration steps.
  void (*accumulateFlatFrame)(std::uint32_t* flatSum, const std::uint16_t* frame, int width, int height, int index,
                              int count);
  void (*generateDefectMap)(std::uint16_t* frame, int width, int height, PixelMapRows map);
  void (*computeGainMap)(std::uint32_t* flatSum, int width, int height, GainMapRows gainMap);
};

// The literal stages: the definition, and the oracle of every other table.
const Kernels& literalKernels();

// The kernels of one level; a level this build has no kernels for gets the widest below it.
// The caller makes sure the processor has the level.
const Kernels& kernelsFor(InstructionSet level);

// The table the detector uses: kernelsFor(activeInstructionSet()), chosen once and kept.
const Kernels& activeKernels();

}  // namespace n47

#endif
