// Speed of the correction and calibration, literal and fast, on realistic detector frames.
// Each benchmark is registered once per level: "literal" runs the literal stages, the others
// the fast ones with the dispatch held at that instruction set.
//   n47_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "api/detector_instance.h"
#include "calibration/accumulate_flat_frame.h"
#include "calibration/compute_gain_map.h"
#include "calibration/generate_defect_map.h"
#include "common/instruction_set.h"
#include "correction/apply_gain_map.h"
#include "correction/correction_pipeline.h"
#include "correction/fast/fast_correction.h"
#include "correction/filter_impulse_noise.h"
#include "correction/mask_border.h"
#include "correction/repair_code2_pixels.h"
#include "correction/repair_defect_lines.h"
#include "correction/repair_defect_pixels.h"
#include "detector/detector.h"
#include "n47sim/sim_control.h"
#include "realistic_scene.h"
#include "tavrin_n47.h"

namespace {

using n47::InstructionSet;
constexpr int W = n47::kFrameWidth;
constexpr int H = n47::kFrameHeight;

const n47test::Scene& scene() {
  static const n47test::Scene s = n47test::makeRealisticScene(W, H, 2024);
  return s;
}

// A stage on a fresh copy of the realistic frame per iteration (the copy is not timed).
using FrameStage = std::function<void(std::uint16_t*)>;

void runOnFrame(benchmark::State& state, InstructionSet level, const FrameStage& stage) {
  n47::setInstructionSetCeiling(level);
  std::vector<std::uint16_t> frame = scene().frame;
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(frame.data(), scene().frame.data(), frame.size() * sizeof(std::uint16_t));
    state.ResumeTiming();
    stage(frame.data());
    benchmark::DoNotOptimize(frame.data());
  }
  n47::setInstructionSetCeiling(InstructionSet::kAvx512);
}

// The literal stage at the literal level, the fast one otherwise.
void registerStage(const std::string& name, const FrameStage& literal, const FrameStage& fast) {
  benchmark::RegisterBenchmark((name + "/literal").c_str(), [=](benchmark::State& s) {
    runOnFrame(s, InstructionSet::kLiteral, literal);
  })->Unit(benchmark::kMillisecond);
  for (const InstructionSet level : {InstructionSet::kSse2, InstructionSet::kAvx2, InstructionSet::kAvx512}) {
    if (level > n47::detectedInstructionSet()) continue;
    benchmark::RegisterBenchmark((name + "/" + n47::instructionSetName(level)).c_str(), [=](benchmark::State& s) {
      runOnFrame(s, level, fast);
    })->Unit(benchmark::kMillisecond);
  }
}

std::vector<InstructionSet> levels() {
  std::vector<InstructionSet> all = {InstructionSet::kLiteral};
  for (const InstructionSet level : {InstructionSet::kSse2, InstructionSet::kAvx2, InstructionSet::kAvx512})
    if (level <= n47::detectedInstructionSet()) all.push_back(level);
  return all;
}

// A detector through the exports, with the realistic maps in place.
void openDetector() {
  n47sim_reset();
  Sys_Allocation_N47();
  n47::Detector* d = g_detector;
  for (int r = 0; r <= H; ++r) std::memcpy(d->pixelMap[r], scene().map.rows()[r], W + 1);
  for (int r = 0; r < H; ++r) std::memcpy(d->gainMap[r], scene().gain.rows()[r], W * sizeof(float));
}

void captureThroughExports(benchmark::State& state, InstructionSet level) {
  n47::setInstructionSetCeiling(level);
  openDetector();
  CalibrationMode(0);
  for (auto _ : state) {
    n47sim_set_frame(scene().frame.data(), scene().frame.size());
    RunforDetector(1);
    RunforDetector(2);
    benchmark::DoNotOptimize(GetImagePtr());
  }
  Sys_Free();
  n47::setInstructionSetCeiling(InstructionSet::kAvx512);
}

// Map_Calibration with the given index of a series of 3 (1: a middle step, 2: the last).
void calibrationStep(benchmark::State& state, InstructionSet level, int index) {
  n47::setInstructionSetCeiling(level);
  openDetector();
  const std::vector<std::uint16_t> flat = n47test::makeFlatFrame(W, H, 7);
  std::vector<std::uint16_t> frame = flat;
  Map_Calibration(frame.data(), 0, 3);
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(frame.data(), flat.data(), frame.size() * sizeof(std::uint16_t));
    state.ResumeTiming();
    Map_Calibration(frame.data(), index, 3);
  }
  Sys_Free();
  n47::setInstructionSetCeiling(InstructionSet::kAvx512);
}

void registerAll() {
  const auto map = [] { return scene().map.rows(); };
  const auto gain = [] { return scene().gain.rows(); };
  registerStage("filterImpulseNoise", [](std::uint16_t* f) { n47::filterImpulseNoise(f, W, H); },
                [](std::uint16_t* f) { n47::fast::filterImpulseNoise(f, W, H); });
  registerStage("repairCode2Pixels", [=](std::uint16_t* f) { n47::repairCode2Pixels(f, W, H, map()); },
                [=](std::uint16_t* f) { n47::fast::repairCode2Pixels(f, W, H, map()); });
  registerStage("applyGainMap", [=](std::uint16_t* f) { n47::applyGainMap(f, W, H, gain()); },
                [=](std::uint16_t* f) { n47::fast::applyGainMap(f, W, H, gain()); });
  registerStage("repairDefectPixels", [=](std::uint16_t* f) { n47::repairDefectPixels(f, W, H, map()); },
                [=](std::uint16_t* f) { n47::fast::repairDefectPixels(f, W, H, map()); });
  // The fast pipeline runs the literal line repair: there is only one form.
  benchmark::RegisterBenchmark("repairDefectLines", [=](benchmark::State& s) {
    runOnFrame(s, InstructionSet::kLiteral, [=](std::uint16_t* f) { n47::repairDefectLines(f, W, H, map()); });
  })->Unit(benchmark::kMillisecond);
  registerStage("maskBorder", [](std::uint16_t* f) { n47::maskBorder(f, W, H); },
                [](std::uint16_t* f) { n47::fast::maskBorder(f, W, H); });
  for (const bool calibration : {false, true}) {
    registerStage(calibration ? "correctImage calibration mode" : "correctImage normal mode",
                  [=](std::uint16_t* f) { n47::correctFrame(f, W, H, map(), gain(), calibration); },
                  [=](std::uint16_t* f) { n47::fast::correctFrame(f, W, H, map(), gain(), calibration); });
  }
  for (const InstructionSet level : levels()) {
    const std::string suffix = std::string("/") + n47::instructionSetName(level);
    benchmark::RegisterBenchmark(("Map_Calibration middle step" + suffix).c_str(), [=](benchmark::State& s) {
      calibrationStep(s, level, 1);
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Map_Calibration last step" + suffix).c_str(), [=](benchmark::State& s) {
      calibrationStep(s, level, 2);
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("capture through the exports" + suffix).c_str(), [=](benchmark::State& s) {
      captureThroughExports(s, level);
    })->Unit(benchmark::kMillisecond);
  }
}

}  // namespace

int main(int argc, char** argv) {
  registerAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::AddCustomContext("kernel levels here", n47::instructionSetName(n47::detectedInstructionSet()));
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
