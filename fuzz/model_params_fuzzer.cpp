// The simulated panel's parameters: each field at its default, at either end of its range,
// just outside it, or any bit pattern. A start must be refused exactly when a field lies
// outside its documented range, a refused start must leave the previous model in charge,
// and an accepted one must place every defect on the panel and render without fault (the
// sanitizers watch the conversions to pixels).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <vector>

#include "fuzz_input.h"
#include "n47sim/model_control.h"

namespace {

constexpr int kWidth = N47SIM_FRAME_WIDTH, kHeight = N47SIM_FRAME_HEIGHT;

// The fields after the seed, in the struct's order, as the ranges list them.
double* realField(n47sim_model_params& p, std::size_t i) {
  double* reals[] = {&p.dark_offset, &p.dark_spread, &p.prnu, &p.shading, &p.read_noise, &p.quantum_gain,
                     &p.impulse_rate};
  return i < std::size(reals) ? reals[i] : nullptr;
}
int* countField(n47sim_model_params& p, std::size_t i) {
  int* counts[] = {&p.dead_pixels, &p.hot_pixels, &p.noisy_pixels, &p.clusters, &p.dead_rows, &p.bright_columns,
                   &p.band_lines};
  return i >= 7 && i - 7 < std::size(counts) ? counts[i - 7] : nullptr;
}

double chosenValue(n47fuzz::FuzzInput& input, const n47sim_model_range& range, double current, bool real) {
  const double step = real ? std::fabs(range.high) * 1e-9 + 1e-12 : 1.0;
  switch (input.byte() % 7) {
    case 0: return current;
    case 1: return range.low;
    case 2: return range.high;
    case 3: return range.low - step;
    case 4: return range.high + step;
    case 5: return range.low + (range.high - range.low) * (input.byte() / 255.0);
    default: return real ? input.value<double>() : input.value<std::int32_t>();
  }
}

std::vector<n47sim_defect> modelDefects() {
  std::vector<n47sim_defect> defects(n47sim_model_defects(nullptr, 0));
  n47sim_model_defects(defects.data(), defects.size());
  return defects;
}

bool sameDefects(const std::vector<n47sim_defect>& a, const std::vector<n47sim_defect>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const n47sim_defect& x, const n47sim_defect& y) {
    return x.kind == y.kind && x.row == y.row && x.column == y.column;
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  n47fuzz::FuzzInput input(data, size);
  std::size_t count = 0;
  const n47sim_model_range* ranges = n47sim_model_ranges(&count);
  N47_FUZZ_CHECK(count == 14);

  // A known model in charge; building a panel is the slow part, so it is built again only
  // after an accepted start replaced it.
  static bool knownInCharge = false;
  static std::vector<n47sim_defect> knownDefects;
  if (!knownInCharge) {
    n47sim_model_params known;
    n47sim_model_default_params(&known, 7);
    N47_FUZZ_CHECK(n47sim_model_start(&known) == 1);
    knownDefects = modelDefects();
    knownInCharge = true;
  }

  n47sim_model_params params;
  n47sim_model_default_params(&params, input.value<std::uint32_t>());
  bool inRange = true;
  for (std::size_t i = 0; i < count; ++i) {
    double value = 0;
    if (double* real = realField(params, i)) {
      *real = value = chosenValue(input, ranges[i], *real, true);
    } else {
      int* field = countField(params, i);
      N47_FUZZ_CHECK(field != nullptr);
      const double wanted = chosenValue(input, ranges[i], *field, false);
      *field = wanted >= std::numeric_limits<int>::min() && wanted <= std::numeric_limits<int>::max()
                   ? static_cast<int>(wanted) : 0;
      value = *field;
    }
    inRange = inRange && value >= ranges[i].low && value <= ranges[i].high;
  }

  const int result = n47sim_model_start(&params);
  N47_FUZZ_CHECK(result == (inRange ? 1 : 0));
  if (result == 0) {
    N47_FUZZ_CHECK(sameDefects(modelDefects(), knownDefects));  // the known model stays
    return 0;
  }
  knownInCharge = false;
  for (const n47sim_defect& d : modelDefects()) {
    N47_FUZZ_CHECK(d.row >= -1 && d.row < kHeight && d.column >= -1 && d.column < kWidth);
    N47_FUZZ_CHECK(d.row >= 0 || d.column >= 0);
  }
  std::vector<std::uint16_t> frame(N47SIM_FRAME_PIXELS);
  n47sim_model_set_scene(N47SIM_SCENE_FLAT, 3000);
  n47sim_model_render(frame.data());
  n47sim_model_ideal(frame.data());
  for (const std::uint16_t v : frame) N47_FUZZ_CHECK(v <= 16383);
  return 0;
}
