// Which kernel each level runs. Stages without a faster form keep the literal one in every
// table; the defect-line repair touches only the few marked lines and has only that form.
#include "kernels/kernels.h"

#include "calibration/accumulate_flat_frame.h"
#include "calibration/compute_gain_map.h"
#include "calibration/generate_defect_map.h"
#include "common/kernel_config.h"
#include "common/test_seams.h"
#include "correction/border_mask/mask_border.h"
#include "correction/defect_lines/repair_defect_lines.h"
#include "correction/gain/apply_gain_map.h"
#include "correction/impulse_filter/filter_impulse_noise.h"
#include "correction/pixel_repairs/repair_code2_pixels.h"
#include "correction/pixel_repairs/repair_defect_pixels.h"

namespace n47 {
namespace {

constexpr Kernels kLiteralKernels = {
    .filterImpulseNoise = filterImpulseNoise,
    .repairCode2Pixels = repairCode2Pixels,
    .applyGainMap = applyGainMap,
    .repairDefectPixels = repairDefectPixels,
    .repairDefectLines = repairDefectLines,
    .maskBorder = maskBorder,
    .accumulateFlatFrame = accumulateFlatFrame,
    .generateDefectMap = generateDefectMap,
    .computeGainMap = computeGainMap,
};

constexpr Kernels kPortableKernels = {
    .filterImpulseNoise = fast::filterImpulseNoisePortable,
    .repairCode2Pixels = fast::repairCode2PixelsPortable,
    .applyGainMap = applyGainMap,
    .repairDefectPixels = fast::repairDefectPixelsPortable,
    .repairDefectLines = repairDefectLines,
    .maskBorder = fast::maskBorderByRows,
    .accumulateFlatFrame = fast::accumulateFlatFrameBaseline,
    .generateDefectMap = fast::generateDefectMapBaseline,
    .computeGainMap = fast::computeGainMapBaseline,
};

#if N47_HAVE_X86_KERNELS
constexpr Kernels kSse2Kernels = {
    .filterImpulseNoise = fast::filterImpulseNoiseSse2,
    .repairCode2Pixels = fast::repairCode2PixelsSse2,
    .applyGainMap = fast::applyGainMapSse2,
    .repairDefectPixels = fast::repairDefectPixelsSse2,
    .repairDefectLines = repairDefectLines,
    .maskBorder = fast::maskBorderByRows,
    .accumulateFlatFrame = fast::accumulateFlatFrameBaseline,
    .generateDefectMap = fast::generateDefectMapBaseline,
    .computeGainMap = fast::computeGainMapBaseline,
};

constexpr Kernels kAvx2Kernels = {
    .filterImpulseNoise = fast::filterImpulseNoiseAvx2,
    .repairCode2Pixels = fast::repairCode2PixelsSse2,
    .applyGainMap = fast::applyGainMapAvx2,
    .repairDefectPixels = fast::repairDefectPixelsSse2,
    .repairDefectLines = repairDefectLines,
    .maskBorder = fast::maskBorderByRows,
    .accumulateFlatFrame = fast::accumulateFlatFrameAvx2,
    .generateDefectMap = fast::generateDefectMapAvx2,
    .computeGainMap = fast::computeGainMapAvx2,
};
#endif

#if N47_HAVE_AVX512_KERNELS
constexpr Kernels kAvx512Kernels = {
    .filterImpulseNoise = fast::filterImpulseNoiseAvx512,
    .repairCode2Pixels = fast::repairCode2PixelsSse2,
    .applyGainMap = fast::applyGainMapAvx512,
    .repairDefectPixels = fast::repairDefectPixelsSse2,
    .repairDefectLines = repairDefectLines,
    .maskBorder = fast::maskBorderByRows,
    .accumulateFlatFrame = fast::accumulateFlatFrameAvx512,
    .generateDefectMap = fast::generateDefectMapAvx512,
    .computeGainMap = fast::computeGainMapAvx512,
};
#endif

InstructionSet g_ceiling = InstructionSet::kAvx512;
const Kernels* g_held = nullptr;    // set by a benchmark; wins over the selection
const Kernels* g_active = nullptr;  // the selection, made on the first use

}  // namespace

const Kernels& literalKernels() { return kLiteralKernels; }

const Kernels& kernelsFor(InstructionSet level) {
#if N47_HAVE_AVX512_KERNELS
  if (level >= InstructionSet::kAvx512) return kAvx512Kernels;
#endif
#if N47_HAVE_X86_KERNELS
  if (level >= InstructionSet::kAvx2) return kAvx2Kernels;
  if (level >= InstructionSet::kSse2) return kSse2Kernels;
#endif
  (void)level;
  return kPortableKernels;
}

InstructionSet activeInstructionSet() {
  const InstructionSet detected = detectedInstructionSet();
  return g_ceiling < detected ? g_ceiling : detected;
}

const Kernels& activeKernels() {
  if (g_held != nullptr) return *g_held;
  if (g_active == nullptr) g_active = &kernelsFor(activeInstructionSet());
  return *g_active;
}

void setInstructionSetCeiling(InstructionSet ceiling) {
  g_ceiling = ceiling;
  g_active = &kernelsFor(activeInstructionSet());
}

const Kernels* exchangeHeldKernels(const Kernels* table) {
  const Kernels* previous = g_held;
  g_held = table;
  return previous;
}

}  // namespace n47
