#include "model/detector_model.h"

#include <algorithm>
#include <cmath>

#include "model/phantom.h"
#include "model/random.h"

namespace n47sim {
namespace {

constexpr int W = N47SIM_FRAME_WIDTH;
constexpr int H = N47SIM_FRAME_HEIGHT;
constexpr double kCeiling = 16383.0;
// Defects stay clear of the edges, where calibration looks only at whole lines.
constexpr int kDefectMargin = 40;

std::size_t at(int row, int column) { return static_cast<std::size_t>(row) * W + column; }

}  // namespace

DetectorModel::DetectorModel(const n47sim_model_params& params)
    : params_(params),
      offset_(static_cast<std::size_t>(W) * H),
      gain_(static_cast<std::size_t>(W) * H),
      kind_(static_cast<std::size_t>(W) * H, 0),
      transmission_(static_cast<std::size_t>(W) * H, 1.0f),
      level_(static_cast<std::size_t>(W) * H),
      deviation_(static_cast<std::size_t>(W) * H),
      noiseFields_(kNoiseFields) {
  Random random(params.seed);
  double gainSum = 0.0;
  for (int r = 0; r < H; ++r) {
    const double y = (r - H / 2.0) / (H / 2.0);
    for (int c = 0; c < W; ++c) {
      const double x = (c - W / 2.0) / (W / 2.0);
      // Falls off towards the corners, with a gentle tilt across the panel.
      const double shading = 1.0 - params.shading * (0.5 * (x * x + y * y) + 0.25 * x);
      const double pixelGain = (1.0 + params.prnu * random.normal()) * shading;
      gain_[at(r, c)] = static_cast<float>(pixelGain);
      offset_[at(r, c)] = static_cast<float>(params.dark_offset + params.dark_spread * random.normal());
      gainSum += pixelGain;
    }
  }
  meanGain_ = gainSum / (static_cast<double>(W) * H);
  placeDefects();
  updateLevels();
}

void DetectorModel::placeDefects() {
  Random random(params_.seed ^ 0xD3FEC7u);
  const auto somewhere = [&](int& row, int& column) {
    row = kDefectMargin + random.below(H - 2 * kDefectMargin);
    column = kDefectMargin + random.below(W - 2 * kDefectMargin);
  };
  const auto mark = [&](int kind, int row, int column) {
    if (kind_[at(row, column)] != 0) return;
    kind_[at(row, column)] = static_cast<std::uint8_t>(kind);
    defects_.push_back({kind, row, column});
  };
  // Whole lines first, recorded once each with -1 for the running coordinate; single defects
  // then land only on pixels no line has taken.
  const auto markRow = [&](int r) {
    defects_.push_back({N47SIM_DEFECT_ROW, r, -1});
    for (int c = 0; c < W; ++c) kind_[at(r, c)] = N47SIM_DEFECT_ROW;
  };
  for (int i = 0; i < params_.dead_rows; ++i) markRow(200 + 430 * i + random.below(100));
  if (params_.band_lines > 0) {
    const int first = 1000 + random.below(200);
    for (int i = 0; i < params_.band_lines; ++i) markRow(first + i);
  }
  for (int i = 0; i < params_.bright_columns; ++i) {
    const int c = 300 + 700 * i + random.below(200);
    defects_.push_back({N47SIM_DEFECT_COLUMN, -1, c});
    for (int r = 0; r < H; ++r) kind_[at(r, c)] = N47SIM_DEFECT_COLUMN;
  }
  int row = 0, column = 0;
  for (int i = 0; i < params_.dead_pixels; ++i) somewhere(row, column), mark(N47SIM_DEFECT_DEAD, row, column);
  for (int i = 0; i < params_.hot_pixels; ++i) somewhere(row, column), mark(N47SIM_DEFECT_HOT, row, column);
  for (int i = 0; i < params_.noisy_pixels; ++i) somewhere(row, column), mark(N47SIM_DEFECT_NOISY, row, column);
  for (int i = 0; i < params_.clusters; ++i) {
    somewhere(row, column);
    const int height = 2 + random.below(2), width = 2 + random.below(2);
    for (int dr = 0; dr < height; ++dr)
      for (int dc = 0; dc < width; ++dc) mark(N47SIM_DEFECT_CLUSTER, row + dr, column + dc);
  }
}

void DetectorModel::setScene(int scene, double dose) {
  scene_ = scene;
  dose_ = scene == N47SIM_SCENE_DARK ? 0.0 : std::max(0.0, dose);
  for (int r = 0; r < H; ++r)
    for (int c = 0; c < W; ++c) transmission_[at(r, c)] = static_cast<float>(transmission(r, c));
  updateLevels();
}

double DetectorModel::transmission(int row, int column) const {
  return scene_ == N47SIM_SCENE_PHANTOM ? phantomTransmission(row, column) : 1.0;
}

void DetectorModel::updateLevels() {
  const double readVariance = params_.read_noise * params_.read_noise;
  for (std::size_t i = 0; i < static_cast<std::size_t>(W) * H; ++i) {
    const double signal = gain_[i] * dose_ * transmission_[i];
    double noiseVariance = readVariance + params_.quantum_gain * signal;
    double value = offset_[i] + signal;
    switch (kind_[i]) {
      case N47SIM_DEFECT_DEAD:
        value = 0.0, noiseVariance = 0.0;
        break;
      case N47SIM_DEFECT_HOT:
      case N47SIM_DEFECT_CLUSTER:
        value = kCeiling, noiseVariance = 0.0;
        break;
      case N47SIM_DEFECT_NOISY:
        noiseVariance += 0.04 * (signal + 100.0) * (signal + 100.0);
        break;
      case N47SIM_DEFECT_ROW:
        value = offset_[i] + 0.35 * signal;  // a weak, lagging line
        break;
      case N47SIM_DEFECT_COLUMN:
        value = offset_[i] + 1.6 * signal + 800.0;
        break;
      default:
        break;
    }
    level_[i] = static_cast<float>(value);
    deviation_[i] = static_cast<float>(std::sqrt(noiseVariance));
  }
}

const std::vector<float>& DetectorModel::noiseField(int index) {
  std::vector<float>& field = noiseFields_[static_cast<std::size_t>(index)];
  if (field.empty()) {
    Random random((params_.seed * 0x100000001B3ull) ^ (0x9015Eull + static_cast<std::uint64_t>(index)));
    field.resize(static_cast<std::size_t>(W) * H);
    for (float& value : field) value = static_cast<float>(random.normal());
  }
  return field;
}

void DetectorModel::render(std::uint16_t* frame) {
  Random random(params_.seed * 0x100000001B3ull + ++framesRendered_);
  constexpr std::size_t kCount = static_cast<std::size_t>(W) * H;
  const std::vector<float>& noise = noiseField(random.below(kNoiseFields));
  // A shift of zero would give a pixel the deviate it met the last time this field was used.
  const std::size_t shift = 1 + static_cast<std::size_t>(random.next() % (kCount - 1));
  const auto pixels = [&](std::size_t begin, std::size_t end, const float* deviates) {
    const float* level = level_.data();
    const float* deviation = deviation_.data();
    for (std::size_t i = begin; i < end; ++i) {
      const float value = level[i] + deviation[i] * deviates[i - begin];
      frame[i] = static_cast<std::uint16_t>(std::clamp(value, 0.0f, static_cast<float>(kCeiling)));
    }
  };
  pixels(0, kCount - shift, noise.data() + shift);
  pixels(kCount - shift, kCount, noise.data());
  // Impulses: single pixels struck far from their level, now and then well above 14 bits.
  const auto impulses = static_cast<long>(params_.impulse_rate * W * H);
  for (long k = 0; k < impulses; ++k) {
    const std::size_t i = static_cast<std::size_t>(random.next() % kCount);
    frame[i] = static_cast<std::uint16_t>(random.below(8) == 0 ? 16384 + random.below(49152) : 6000 + random.below(10384));
  }
}

void DetectorModel::ideal(std::uint16_t* frame) const {
  for (std::size_t i = 0; i < static_cast<std::size_t>(W) * H; ++i) {
    const double value = params_.dark_offset + meanGain_ * dose_ * transmission_[i];
    frame[i] = static_cast<std::uint16_t>(std::clamp(value, 0.0, kCeiling));
  }
}

}  // namespace n47sim
