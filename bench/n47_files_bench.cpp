// Speed of the tool's frame files: one realistic frame after another into a NeXus file, stored
// plainly or with gzip (deflate with shuffle), beside the multi-page TIFF of the same frames.
// Each iteration writes a whole series the way the tool does (temporary, frames, flush to the
// device, rename); items are frames. Needs the tools, so a build other than the `bench` preset:
//   cmake --preset release -DN47_BUILD_BENCH=ON && cmake --build --preset release --target n47_files_bench
//   build/release/bin/n47_files_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "image_io.h"
#include "nexus_writer.h"
#include "support/scene.h"
#include "support/temp_dir.h"

namespace {

constexpr int kFrames = 20;  // a series of 120 MiB of frames an iteration

const n47tool::Frame& frame() {
  static const n47tool::Frame f = [] {
    const n47test::Scene scene = n47test::makeRealisticScene(n47tool::kWidth, n47tool::kHeight, 2024);
    return n47tool::Frame(scene.frame.pixels.begin(), scene.frame.pixels.end());
  }();
  return f;
}

// items_per_second: frames a second; file_bytes_per_frame and the ratio to the raw frame size.
void series(benchmark::State& state, const char* name, void (*write)(const std::string& path)) {
  n47test::TempDir dir;
  const std::string path = dir.file(name);
  for (auto _ : state) write(path);
  state.SetItemsProcessed(state.iterations() * kFrames);
  const double bytes = static_cast<double>(std::filesystem::file_size(path));
  state.counters["file_bytes_per_frame"] = bytes / kFrames;
  state.counters["ratio"] = static_cast<double>(n47tool::kPixels * 2) * kFrames / bytes;
}

template <bool gzip>
void nexusSeries(const std::string& path) {
  n47tool::NexusContents contents;
  contents.gzip = gzip;
  contents.temperatures = true;
  n47tool::NexusWriter writer(path, contents);
  for (int i = 0; i < kFrames; ++i) writer.add(frame(), 27.0);
  writer.finish();
}

void tiffSeries(const std::string& path) {
  n47tool::writeTiffPages(path, kFrames, [](int, n47tool::Frame& page, std::string& description) {
    page = frame();
    description = "frame";
    return true;
  });
}

void nexusNone(benchmark::State& state) { series(state, "series.h5", nexusSeries<false>); }
void nexusGzip(benchmark::State& state) { series(state, "series.h5", nexusSeries<true>); }
void tiffPages(benchmark::State& state) { series(state, "series.tif", tiffSeries); }

BENCHMARK(nexusNone)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(nexusGzip)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(tiffPages)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
