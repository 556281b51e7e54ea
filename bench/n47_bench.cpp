// Speed of the correction and calibration, literal and fast, on realistic detector frames and
// on a hard one, beside the copy of a frame (the memory floor the README's cost model uses).
// Each benchmark is registered once per level: "literal" runs the literal table, the others
// the table of that instruction set.
//   n47_bench --benchmark_enable_random_interleaving=true --benchmark_repetitions=5
//             --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "api/detector_instance.h"
#include "common/instruction_set.h"
#include "common/test_seams.h"
#include "correction/correction_pipeline.h"
#include "detector/detector.h"
#include "kernels/kernels.h"
#include "n47sim/sim_control.h"
#include "support/scene.h"
#include "tavrin_n47.h"

namespace {

using n47::InstructionSet;
constexpr int W = n47::kFrameWidth;
constexpr int H = n47::kFrameHeight;

const n47test::Scene& scene() {
  static const n47test::Scene s = n47test::makeRealisticScene(W, H, 2024);
  return s;
}

const n47test::Scene& hardScene() {
  static const n47test::Scene s = n47test::makeHardScene(W, H, 2024);
  return s;
}

// "literal" or the instruction set's name; the literal table comes first.
struct Level {
  std::string name;
  const n47::Kernels* kernels;
};

std::vector<Level> levels() {
  std::vector<Level> all = {{"literal", &n47::literalKernels()}};
  for (const InstructionSet level : {InstructionSet::kSse2, InstructionSet::kAvx2, InstructionSet::kAvx512})
    if (level <= n47::detectedInstructionSet()) all.push_back({n47::instructionSetName(level), &n47::kernelsFor(level)});
  return all;
}

// A stage on a fresh copy of a frame, the realistic one unless given, per iteration (the copy
// is not timed).
using FrameStage = std::function<void(const n47::Kernels&, std::uint16_t*)>;

void runOnFrame(benchmark::State& state, const n47::Kernels& kernels, const FrameStage& stage,
                const n47test::Frame& source = scene().frame) {
  n47test::Frame frame = source;
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(frame.data(), source.data(), frame.size() * sizeof(std::uint16_t));
    state.ResumeTiming();
    stage(kernels, frame.data());
    benchmark::DoNotOptimize(frame.data());
  }
}

void registerStage(const std::string& name, const FrameStage& stage) {
  for (const Level& level : levels()) {
    benchmark::RegisterBenchmark((name + "/" + level.name).c_str(), [=](benchmark::State& s) {
      runOnFrame(s, *level.kernels, stage);
    })->Unit(benchmark::kMillisecond);
  }
}

// The floor of a stage's memory traffic: copying one frame to another, bytes read plus written.
void copyFrame(benchmark::State& state) {
  const n47test::Frame& source = scene().frame;
  n47test::Frame frame = source;
  const std::size_t bytes = frame.size() * sizeof(std::uint16_t);
  for (auto _ : state) {
    std::memcpy(frame.data(), source.data(), bytes);
    benchmark::DoNotOptimize(frame.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(2 * bytes));
}

// A detector through the exports, with the realistic maps in place.
void openDetector() {
  n47sim_reset();
  Sys_Allocation_N47();
  n47::Detector* d = g_detector;
  for (int r = 0; r <= H; ++r) std::memcpy(d->pixelMap[r], scene().map.rows()[r], W + 1);
  for (int r = 0; r < H; ++r) std::memcpy(d->gainMap[r], scene().gain.rows()[r], W * sizeof(float));
}

// The detector's operations with one table held.
class HeldKernels {
 public:
  explicit HeldKernels(const n47::Kernels& kernels) { n47::exchangeHeldKernels(&kernels); }
  ~HeldKernels() { n47::exchangeHeldKernels(nullptr); }
  HeldKernels(const HeldKernels&) = delete;
  HeldKernels& operator=(const HeldKernels&) = delete;
};

void captureThroughExports(benchmark::State& state, const n47::Kernels& kernels) {
  const HeldKernels held(kernels);
  openDetector();
  CalibrationMode(0);
  for (auto _ : state) {
    n47sim_set_frame(scene().frame.data(), scene().frame.size());
    RunforDetector(1);
    RunforDetector(2);
    benchmark::DoNotOptimize(GetImagePtr());
  }
  Sys_Free();
}

// Map_Calibration with the given index of a series of 3 (1: a middle step, 2: the last).
void calibrationStep(benchmark::State& state, const n47::Kernels& kernels, int index) {
  const HeldKernels held(kernels);
  openDetector();
  const n47test::Frame flat = n47test::makeFlatFrame(W, H, 7);
  n47test::Frame frame = flat;
  Map_Calibration(frame.data(), 0, 3);
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(frame.data(), flat.data(), frame.size() * sizeof(std::uint16_t));
    state.ResumeTiming();
    Map_Calibration(frame.data(), index, 3);
  }
  Sys_Free();
}

void registerAll() {
  const auto map = [] { return scene().map.rows(); };
  const auto gain = [] { return scene().gain.rows(); };
  using n47::Kernels;
  registerStage("filterImpulseNoise", [](const Kernels& k, std::uint16_t* f) { k.filterImpulseNoise(f, W, H); });
  registerStage("repairCode2Pixels", [=](const Kernels& k, std::uint16_t* f) { k.repairCode2Pixels(f, W, H, map()); });
  registerStage("applyGainMap", [=](const Kernels& k, std::uint16_t* f) { k.applyGainMap(f, W, H, gain()); });
  registerStage("repairDefectPixels", [=](const Kernels& k, std::uint16_t* f) { k.repairDefectPixels(f, W, H, map()); });
  // Every table has the literal line repair: there is only one form.
  benchmark::RegisterBenchmark("repairDefectLines", [=](benchmark::State& s) {
    runOnFrame(s, n47::literalKernels(), [=](const Kernels& k, std::uint16_t* f) { k.repairDefectLines(f, W, H, map()); });
  })->Unit(benchmark::kMillisecond);
  registerStage("maskBorder", [](const Kernels& k, std::uint16_t* f) { k.maskBorder(f, W, H); });
  for (const bool calibration : {false, true}) {
    registerStage(calibration ? "correctImage calibration mode" : "correctImage normal mode",
                  [=](const Kernels& k, std::uint16_t* f) { n47::correctFrame(k, f, W, H, map(), gain(), calibration); });
  }
  for (const Level& level : levels()) {
    benchmark::RegisterBenchmark(("correctImage normal mode, hard frame/" + level.name).c_str(),
                                 [=](benchmark::State& s) {
                                   const n47test::Scene& hard = hardScene();
                                   runOnFrame(
                                       s, *level.kernels,
                                       [&](const Kernels& k, std::uint16_t* f) {
                                         n47::correctFrame(k, f, W, H, hard.map.rows(), hard.gain.rows(), false);
                                       },
                                       hard.frame);
                                 })
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("memcpy of a frame", copyFrame)->Unit(benchmark::kMillisecond);
  for (const Level& level : levels()) {
    const std::string suffix = "/" + level.name;
    const n47::Kernels* kernels = level.kernels;
    benchmark::RegisterBenchmark(("Map_Calibration middle step" + suffix).c_str(), [=](benchmark::State& s) {
      calibrationStep(s, *kernels, 1);
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Map_Calibration last step" + suffix).c_str(), [=](benchmark::State& s) {
      calibrationStep(s, *kernels, 2);
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("capture through the exports" + suffix).c_str(), [=](benchmark::State& s) {
      captureThroughExports(s, *kernels);
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
