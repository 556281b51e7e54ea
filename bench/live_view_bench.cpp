// Speed of the live view: the simulator's render of a frame, the picture a page is sent (binned,
// windowed, JPEG-encoded), and the time from capture to a decoded picture in a client of the
// real server while the capture loop runs beside it, as in `n47 view`.
//   n47_view_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <turbojpeg.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "detector_session.h"
#include "grabber.h"
#include "n47sim/model_control.h"
#include "support/scene.h"
#include "view/frame_picture.h"
#include "view/frame_slot.h"
#include "view/view_server.h"

namespace {

void simulatorRender(benchmark::State& state) {
  n47sim_reset();
  n47sim_model_params params;
  n47sim_model_default_params(&params, 47);
  n47sim_model_start(&params);
  n47sim_model_set_scene(N47SIM_SCENE_PHANTOM, 4000.0);
  n47tool::Frame frame(n47tool::kPixels);
  // Every noise field drawn once, as after the first frames of a run.
  for (int i = 0; i < 32; ++i) n47sim_model_render(frame.data());
  for (auto _ : state) {
    n47sim_model_render(frame.data());
    benchmark::DoNotOptimize(frame.data());
  }
}
BENCHMARK(simulatorRender)->Unit(benchmark::kMillisecond);

// A realistic frame just captured (its histogram not yet made), a region of it at a binning, in
// the automatic window.
void encodePicture(benchmark::State& state) {
  const n47tool::Frame pixels = n47test::makeRealisticScene(n47tool::kWidth, n47tool::kHeight, 2024).frame.pixels;
  const n47tool::FrameRegion region = n47tool::clampRegion(
      {0, 0, static_cast<int>(state.range(1)), static_cast<int>(state.range(2)), static_cast<int>(state.range(0))});
  std::size_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    n47tool::LiveFrame frame;
    frame.pixels = pixels;
    state.ResumeTiming();
    bytes = n47tool::encodeJpeg(n47tool::regionPicture(frame.pixels, region, frame.automaticWindow())).size();
  }
  state.counters["jpeg_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(encodePicture)
    ->ArgNames({"binning", "width", "height"})
    ->Args({2, 2048, 1536})
    ->Args({1, 2048, 1536})
    ->Args({1, 192, 192})
    ->Unit(benchmark::kMillisecond);

class NoControls final : public n47tool::LiveControl {
 public:
  std::string statusJson() const override { return "{}"; }
  void requestCalibrationMode(bool) override {}
  void requestPause(bool) override {}
  std::vector<std::string> snapshot() override { return {}; }
};

// Each iteration: the next frame the page would ask for (binning 2, automatic window), fetched
// from the server and decoded; its time is the age of that frame when it is decoded.
void captureToScreen(benchmark::State& state) {
  n47tool::FrameSlot slot;
  NoControls controls;
  n47tool::ViewServer server(slot, controls, nullptr);
  const int port = server.bind(0);
  server.start();
  std::atomic<bool> capturing{true}, failed{false};
  std::atomic<long> captured{0};
  std::thread capture([&] {
    try {
      n47tool::DetectorSession session;
      n47tool::loadedSimulator()->startModel(47);
      n47tool::loadedSimulator()->setScene(N47SIM_SCENE_PHANTOM, 4000.0);
      while (capturing) {
        auto frame = std::make_shared<n47tool::LiveFrame>();
        frame->pixels = session.acquire();
        frame->captured = std::chrono::system_clock::now();
        frame->number = ++captured;
        slot.publish(std::move(frame));
      }
    } catch (const std::exception&) {
      failed = true;
    }
  });
  // The panel's model is built before the first frame; that start is no part of the latency.
  while (captured == 0 && !failed) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  httplib::Client client("127.0.0.1", port);
  const std::unique_ptr<void, int (*)(tjhandle)> decoder(tjInitDecompress(), tjDestroy);
  std::vector<unsigned char> pixels(n47tool::kPixels);
  long shown = 0, shownFrames = 0;
  const long capturedBefore = captured;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    const auto reply = client.Get("/frame.jpg?binning=2&after=" + std::to_string(shown));
    if (failed || !reply || reply->status != 200) {
      state.SkipWithError("no picture");
      break;
    }
    int width = 0, height = 0, subsampling = 0, colours = 0;
    const auto* jpeg = reinterpret_cast<const unsigned char*>(reply->body.data());
    tjDecompressHeader3(decoder.get(), jpeg, reply->body.size(), &width, &height, &subsampling, &colours);
    tjDecompress2(decoder.get(), jpeg, reply->body.size(), pixels.data(), width, 0, height, TJPF_GRAY, 0);
    const std::chrono::system_clock::time_point capturedAt{
        std::chrono::milliseconds(std::stoll(reply->get_header_value("X-N47-Captured")))};
    const std::chrono::duration<double> age = std::chrono::system_clock::now() - capturedAt;
    state.SetIterationTime(std::max(0.0, age.count()));
    const long number = std::stol(reply->get_header_value("X-N47-Frame"));
    shownFrames += number != shown;
    shown = number;
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  state.counters["captured_per_s"] = static_cast<double>(captured - capturedBefore) / elapsed.count();
  state.counters["shown_per_s"] = static_cast<double>(shownFrames) / elapsed.count();
  capturing = false;
  capture.join();
  server.stop();
}
BENCHMARK(captureToScreen)->UseManualTime()->MinTime(3.0)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
