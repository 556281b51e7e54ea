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

// The shapes of the steps; each stage's header declares its forms with them.
// Correction stages, in place on a frame of width x height:
using FrameStage = void(std::uint16_t* frame, int width, int height);
using PixelMapStage = void(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap);
using GainStage = void(std::uint16_t* frame, int width, int height, ConstGainMapRows gainMap);
// Calibration steps:
using FlatFrameStep = void(std::uint32_t* flatSum, const std::uint16_t* frame, int width, int height, int index,
                           int count);
using DefectMapStep = void(std::uint16_t* frame, int width, int height, PixelMapRows map);
using GainMapStep = void(std::uint32_t* flatSum, int width, int height, GainMapRows gainMap);
// The last frame of a series of count: accumulateFlatFrame at index count - 1, then computeGainMap.
using FinishSeriesStep = void(std::uint32_t* flatSum, const std::uint16_t* frame, int width, int height, int count,
                              GainMapRows gainMap);

struct Kernels {
  FrameStage* filterImpulseNoise = nullptr;
  PixelMapStage* repairCode2Pixels = nullptr;
  GainStage* applyGainMap = nullptr;
  PixelMapStage* repairDefectPixels = nullptr;
  PixelMapStage* repairDefectLines = nullptr;
  FrameStage* maskBorder = nullptr;
  FlatFrameStep* accumulateFlatFrame = nullptr;
  DefectMapStep* generateDefectMap = nullptr;
  GainMapStep* computeGainMap = nullptr;
  FinishSeriesStep* finishFlatSeries = nullptr;
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
