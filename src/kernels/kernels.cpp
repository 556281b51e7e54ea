// Which kernel each level runs. Stages without a faster form keep the literal one in every
// table; the defect-line repair touches only the few marked lines and has only that form.
#include "kernels/kernels.h"

#include "calibration/calibration_steps.h"
#include "common/kernel_config.h"
#include "common/test_seams.h"
#include "correction/border_mask/mask_border.h"
#include "correction/defect_lines/repair_defect_lines.h"
#include "correction/gain/apply_gain_map.h"
#include "correction/impulse_filter/filter_impulse_noise.h"
#include "correction/pixel_repairs/pixel_repairs.h"

namespace n47 {
namespace {

constexpr Kernels kLiteralKernels = {filterImpulseNoise, repairCode2Pixels, applyGainMap,   repairDefectPixels,
                                     repairDefectLines,  maskBorder,        accumulateFlatFrame, generateDefectMap,
                                     computeGainMap,     finishFlatSeries};

// Without vector instructions: the same shortcuts as the vector forms, one position at a time.
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
    .finishFlatSeries = fast::finishFlatSeriesBaseline,
};

// `base` with every step that `changes` names. The tables built with it are const rather than
// constexpr: under the sanitizers a function's address is no constant, and they are then
// filled before main instead.
constexpr Kernels over(Kernels base, const Kernels& changes) {
  const auto take = [](auto& step, auto change) {
    if (change != nullptr) step = change;
  };
  take(base.filterImpulseNoise, changes.filterImpulseNoise);
  take(base.repairCode2Pixels, changes.repairCode2Pixels);
  take(base.applyGainMap, changes.applyGainMap);
  take(base.repairDefectPixels, changes.repairDefectPixels);
  take(base.repairDefectLines, changes.repairDefectLines);
  take(base.maskBorder, changes.maskBorder);
  take(base.accumulateFlatFrame, changes.accumulateFlatFrame);
  take(base.generateDefectMap, changes.generateDefectMap);
  take(base.computeGainMap, changes.computeGainMap);
  take(base.finishFlatSeries, changes.finishFlatSeries);
  return base;
}

#if N47_HAVE_X86_KERNELS
// SSE2, the x86 baseline: the vector impulse filter, pixel-repair scan and gain.
const Kernels kSse2Kernels = over(kPortableKernels, {.filterImpulseNoise = fast::filterImpulseNoiseSse2,
                                                         .repairCode2Pixels = fast::repairCode2PixelsSse2,
                                                         .applyGainMap = fast::applyGainMapSse2,
                                                         .repairDefectPixels = fast::repairDefectPixelsSse2});

// A wider set over the one below: its own impulse filter, gain and calibration steps.
constexpr Kernels wider(const Kernels& below, FrameStage* filter, GainStage* gain, FlatFrameStep* flatFrame,
                        DefectMapStep* defectMap, GainMapStep* gainMap, FinishSeriesStep* finishSeries) {
  return over(below, {.filterImpulseNoise = filter, .applyGainMap = gain, .accumulateFlatFrame = flatFrame,
                      .generateDefectMap = defectMap, .computeGainMap = gainMap, .finishFlatSeries = finishSeries});
}

const Kernels kAvx2Kernels = wider(kSse2Kernels, fast::filterImpulseNoiseAvx2, fast::applyGainMapAvx2,
                                       fast::accumulateFlatFrameAvx2, fast::generateDefectMapAvx2, fast::computeGainMapAvx2,
                                       fast::finishFlatSeriesAvx2);
#endif
#if N47_HAVE_AVX512_KERNELS
const Kernels kAvx512Kernels = wider(kAvx2Kernels, fast::filterImpulseNoiseAvx512, fast::applyGainMapAvx512,
                                         fast::accumulateFlatFrameAvx512, fast::generateDefectMapAvx512,
                                         fast::computeGainMapAvx512, fast::finishFlatSeriesAvx512);
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
