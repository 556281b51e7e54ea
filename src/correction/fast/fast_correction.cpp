#include "correction/fast/fast_correction.h"

#include "common/instruction_set.h"
#include "common/x86/cpu_features.h"
#include "correction/apply_gain_map.h"
#include "correction/correction_pipeline.h"
#include "correction/filter_impulse_noise.h"
#include "correction/fast/gain_kernels.h"
#include "correction/fast/impulse_filter_kernels.h"
#include "correction/mask_border.h"
#include "correction/repair_defect_lines.h"

namespace n47::fast {

void filterImpulseNoise(std::uint16_t* frame, int width, int height) {
  // The kernels keep one row of column sums on the stack, sized for the detector's width.
  if (width < 9 || height < 9 || width > kFrameWidth) {
    n47::filterImpulseNoise(frame, width, height);
    return;
  }
  switch (activeInstructionSet()) {
#if N47_X86
    case InstructionSet::kAvx512:
#if N47_HAVE_AVX512_KERNELS
      filterImpulseNoiseAvx512(frame, width, height);
      return;
#endif
    case InstructionSet::kAvx2:
      filterImpulseNoiseAvx2(frame, width, height);
      return;
    case InstructionSet::kSse2:
      filterImpulseNoiseSse2(frame, width, height);
      return;
#endif
    case InstructionSet::kLiteral:
      n47::filterImpulseNoise(frame, width, height);
      return;
    default:
      filterImpulseNoisePortable(frame, width, height);
      return;
  }
}

void applyGainMap(std::uint16_t* frame, int width, int height, ConstGainMapRows gainMap) {
  switch (activeInstructionSet()) {
#if N47_X86
    case InstructionSet::kAvx512:
#if N47_HAVE_AVX512_KERNELS
      applyGainMapAvx512(frame, width, height, gainMap);
      return;
#endif
    case InstructionSet::kAvx2:
      applyGainMapAvx2(frame, width, height, gainMap);
      return;
    case InstructionSet::kSse2:
      applyGainMapSse2(frame, width, height, gainMap);
      return;
#endif
    default:
      n47::applyGainMap(frame, width, height, gainMap);
      return;
  }
}

void correctFrame(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap, ConstGainMapRows gainMap,
                  bool calibrationMode) {
  if (activeInstructionSet() == InstructionSet::kLiteral) {
    n47::correctFrame(frame, width, height, pixelMap, gainMap, calibrationMode);
    return;
  }
  filterImpulseNoise(frame, width, height);
  repairCode2Pixels(frame, width, height, pixelMap);
  if (!calibrationMode) applyGainMap(frame, width, height, gainMap);
  repairDefectPixels(frame, width, height, pixelMap);
  // Line repairs touch only the few marked lines; the literal stage is already fast enough.
  n47::repairDefectLines(frame, width, height, pixelMap);
  filterImpulseNoise(frame, width, height);
  if (!calibrationMode) maskBorder(frame, width, height);
}

}  // namespace n47::fast
