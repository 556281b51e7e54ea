// The C control interface of the simulated detector, and the frame and message sources it
// installs in the grabber simulator.
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "model/detector_model.h"
#include "n47sim/model_control.h"

namespace {

struct ModelState {
  std::unique_ptr<n47sim::DetectorModel> model;
  std::vector<std::uint16_t> playback;  // a raw file being played back, else empty
  std::uint64_t messagesSent = 0;
};

ModelState& modelState() {
  static ModelState state;
  return state;
}

void renderFrame(std::uint16_t* frame, std::size_t pixels, void*) {
  ModelState& s = modelState();
  if (!s.playback.empty()) {
    std::memcpy(frame, s.playback.data(), std::min(pixels, s.playback.size()) * sizeof(std::uint16_t));
  } else if (s.model) {
    s.model->render(frame);
  }
}

// Slow drift of a few degrees over a few hundred messages, as a panel warms up and settles.
int temperatureAt(std::uint64_t message) {
  const double t = static_cast<double>(message);
  return static_cast<int>(std::lround(27.0 + 4.0 * std::sin(t / 180.0) + 2.0 * (1.0 - std::exp(-t / 400.0))));
}

// Each message carries a temperature frame; now and then the switch bytes of the panel's
// buttons precede it.
std::size_t nextMessage(std::uint8_t* message, std::size_t capacity, void*) {
  if (capacity < N47SIM_MESSAGE_BYTES) return 0;
  ModelState& s = modelState();
  const std::uint64_t n = s.messagesSent++;
  std::memset(message, 0, N47SIM_MESSAGE_BYTES);
  if (n % 25 == 7) message[0] = 'v';
  if (n % 40 == 13) message[1] = 's';
  if (n % 60 == 29) message[2] = 'u';
  message[10] = 'f';
  message[11] = static_cast<std::uint8_t>(static_cast<std::int8_t>(temperatureAt(n) + 5));
  message[12] = 'g';
  return N47SIM_MESSAGE_BYTES;
}

// The documented ranges, each beside a reader of its field.
struct Field {
  n47sim_model_range range;
  double (*value)(const n47sim_model_params&);
};
#define N47SIM_FIELD(name, low, high) \
  Field { {#name, low, high}, [](const n47sim_model_params& p) { return static_cast<double>(p.name); } }
const Field kFields[] = {
    N47SIM_FIELD(dark_offset, 0, 16383),  N47SIM_FIELD(dark_spread, 0, 1000),
    // Box-Muller draws stay within 8.6 deviations, so a spread of 0.1 keeps every gain positive.
    N47SIM_FIELD(prnu, 0, 0.1),
    // The panel's corner loses 1.25 times the depth: 0.75 leaves it a positive response.
    N47SIM_FIELD(shading, 0, 0.75),       N47SIM_FIELD(read_noise, 0, 1000),
    N47SIM_FIELD(quantum_gain, 0, 100),   N47SIM_FIELD(impulse_rate, 0, 1),
    N47SIM_FIELD(dead_pixels, 0, 100000), N47SIM_FIELD(hot_pixels, 0, 100000),
    N47SIM_FIELD(noisy_pixels, 0, 100000), N47SIM_FIELD(clusters, 0, 10000),
    // Dead row i lies in rows 200 + 430 i to 299 + 430 i, bright column i in columns
    // 300 + 700 i to 499 + 700 i, and the band starts in rows 1000 to 1199: all on the panel.
    N47SIM_FIELD(dead_rows, 0, 3),        N47SIM_FIELD(bright_columns, 0, 3),
    N47SIM_FIELD(band_lines, 0, 337),
};
#undef N47SIM_FIELD

bool inRange(const n47sim_model_params& params) {
  for (const Field& field : kFields) {
    const double value = field.value(params);
    if (!(value >= field.range.low && value <= field.range.high)) return false;  // NaN too
  }
  return true;
}

}  // namespace

extern "C" {

N47SIM_API void n47sim_model_default_params(n47sim_model_params* params, uint32_t seed) {
  // The fields' order and grouping are the header's.
  *params = n47sim_model_params{
      .seed = seed,
      .dark_offset = 100.0, .dark_spread = 4.0, .prnu = 0.03, .shading = 0.12, .read_noise = 3.0,
      .quantum_gain = 0.25, .impulse_rate = 2e-5,
      .dead_pixels = 60, .hot_pixels = 60, .noisy_pixels = 30, .clusters = 12,
      .dead_rows = 1, .bright_columns = 2,
      .band_lines = 3,
  };
}

N47SIM_API const n47sim_model_range* n47sim_model_ranges(size_t* count) {
  static const auto ranges = [] {
    std::array<n47sim_model_range, std::size(kFields)> all{};
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = kFields[i].range;
    return all;
  }();
  if (count != nullptr) *count = ranges.size();
  return ranges.data();
}

N47SIM_API int n47sim_model_start(const n47sim_model_params* params) {
  ModelState& s = modelState();
  n47sim_model_params chosen;
  if (params != nullptr) {
    chosen = *params;
  } else {
    n47sim_model_default_params(&chosen, 1);
  }
  if (!inRange(chosen)) return 0;
  s.model = std::make_unique<n47sim::DetectorModel>(chosen);
  s.playback.clear();
  s.messagesSent = 0;
  n47sim_set_frame_source(renderFrame, nullptr);
  n47sim_set_message_source(nextMessage, nullptr);
  return 1;
}

N47SIM_API void n47sim_model_set_scene(int scene, double dose) {
  ModelState& s = modelState();
  s.playback.clear();
  if (s.model) s.model->setScene(scene, dose);
}

N47SIM_API void n47sim_model_render(uint16_t* frame) { renderFrame(frame, N47SIM_FRAME_PIXELS, nullptr); }

N47SIM_API void n47sim_model_ideal(uint16_t* frame) {
  ModelState& s = modelState();
  if (s.model) {
    s.model->ideal(frame);
  } else {
    std::memset(frame, 0, N47SIM_FRAME_PIXELS * sizeof(uint16_t));
  }
}

N47SIM_API size_t n47sim_model_defects(n47sim_defect* defects, size_t capacity) {
  ModelState& s = modelState();
  if (!s.model) return 0;
  const auto& all = s.model->defects();
  for (size_t i = 0; i < all.size() && i < capacity && defects != nullptr; ++i) defects[i] = all[i];
  return all.size();
}

N47SIM_API int n47sim_play_raw_file(const char* path) {
  if (path == nullptr) return 0;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return 0;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(N47SIM_FRAME_PIXELS) * 2 + 1);
  const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  if (got != static_cast<std::size_t>(N47SIM_FRAME_PIXELS) * 2) return 0;
  ModelState& s = modelState();
  s.playback.resize(N47SIM_FRAME_PIXELS);
  for (std::size_t i = 0; i < s.playback.size(); ++i) {
    s.playback[i] = static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  n47sim_set_frame_source(renderFrame, nullptr);
  return 1;
}

N47SIM_API int n47sim_model_temperature(void) {
  return temperatureAt(modelState().messagesSent == 0 ? 0 : modelState().messagesSent - 1);
}

}  // extern "C"
