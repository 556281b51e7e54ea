// The simulated detector's statistics match its parameters, and a seed repeats a run.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "grabber/usb_frm01.h"
#include "n47sim/model_control.h"

namespace {

constexpr std::size_t kPixels = N47SIM_FRAME_PIXELS;

struct Moments {
  double mean = 0, deviation = 0;
};

// Over the centre of the panel, away from defects at known places and the shading's edges.
Moments centreMoments(const std::vector<std::uint16_t>& frame) {
  double sum = 0, squares = 0;
  long n = 0;
  for (int r = 668; r < 868; ++r)
    for (int c = 924; c < 1124; ++c) {
      const double v = frame[static_cast<std::size_t>(r) * 2048 + c];
      sum += v, squares += v * v, ++n;
    }
  const double mean = sum / n;
  return {mean, std::sqrt(squares / n - mean * mean)};
}

class DetectorModel : public ::testing::Test {
 protected:
  void SetUp() override {
    n47sim_reset();
    n47sim_model_default_params(&params, 11);
    params.impulse_rate = 0;
    params.dead_pixels = params.hot_pixels = params.noisy_pixels = params.clusters = 0;
    params.dead_rows = params.bright_columns = params.band_lines = 0;
  }
  std::vector<std::uint16_t> render(int scene, double dose) {
    n47sim_model_set_scene(scene, dose);
    std::vector<std::uint16_t> frame(kPixels);
    n47sim_model_render(frame.data());
    return frame;
  }
  n47sim_model_params params{};
};

TEST_F(DetectorModel, DarkFramesSitAtTheOffsetWithItsSpreadAndReadNoise) {
  n47sim_model_start(&params);
  const Moments dark = centreMoments(render(N47SIM_SCENE_DARK, 0));
  EXPECT_NEAR(dark.mean, 100.0, 1.0);
  EXPECT_NEAR(dark.deviation, std::sqrt(4.0 * 4.0 + 3.0 * 3.0), 0.6);
}

TEST_F(DetectorModel, FlatsShowTheGainSpreadAndQuantumNoise) {
  params.shading = 0;
  n47sim_model_start(&params);
  const Moments flat = centreMoments(render(N47SIM_SCENE_FLAT, 4000));
  EXPECT_NEAR(flat.mean, 4100.0, 30.0);
  // PRNU 3 % of 4000 (120), quantum noise sqrt(0.25 x 4000) (32), dark spread and read noise.
  const double expected = std::sqrt(120.0 * 120.0 + 0.25 * 4000 + 16 + 9);
  EXPECT_NEAR(flat.deviation, expected, 0.1 * expected);
}

// The offset spread cancels in a difference of two dark frames; the read noise of both remains,
// unless two frames shared their noise.
TEST_F(DetectorModel, EveryFrameDrawsNoiseOfItsOwn) {
  n47sim_model_start(&params);
  const auto first = render(N47SIM_SCENE_DARK, 0);
  for (int k = 0; k < 12; ++k) {
    const auto later = render(N47SIM_SCENE_DARK, 0);
    std::vector<std::uint16_t> difference(kPixels);
    for (std::size_t i = 0; i < kPixels; ++i) difference[i] = static_cast<std::uint16_t>(1000 + later[i] - first[i]);
    EXPECT_NEAR(centreMoments(difference).deviation, std::sqrt(2.0) * 3.0, 0.3) << "frame " << k + 2;
  }
}

TEST_F(DetectorModel, SaturatesAt14Bits) {
  n47sim_model_start(&params);
  const auto frame = render(N47SIM_SCENE_FLAT, 30000);
  for (std::uint16_t v : frame) ASSERT_LE(v, 16383);
  EXPECT_EQ(frame[kPixels / 2], 16383);
}

TEST_F(DetectorModel, DefectCountsFollowTheParametersAndReadAsTheirKind) {
  n47sim_model_default_params(&params, 5);
  params.impulse_rate = 0;
  n47sim_model_start(&params);
  std::vector<n47sim_defect> defects(n47sim_model_defects(nullptr, 0));
  n47sim_model_defects(defects.data(), defects.size());
  int counts[8] = {};
  for (const auto& d : defects) ++counts[d.kind];
  EXPECT_GE(counts[N47SIM_DEFECT_DEAD], params.dead_pixels - 2);  // a random place may repeat
  EXPECT_GE(counts[N47SIM_DEFECT_HOT], params.hot_pixels - 2);
  EXPECT_GE(counts[N47SIM_DEFECT_NOISY], params.noisy_pixels - 2);
  EXPECT_GE(counts[N47SIM_DEFECT_CLUSTER], 4 * params.clusters - 4);
  EXPECT_EQ(counts[N47SIM_DEFECT_ROW], params.dead_rows + params.band_lines);
  EXPECT_EQ(counts[N47SIM_DEFECT_COLUMN], params.bright_columns);
  const auto flat = render(N47SIM_SCENE_FLAT, 3000);
  for (const auto& d : defects) {
    if (d.row < 0 || d.column < 0) continue;
    const std::uint16_t v = flat[static_cast<std::size_t>(d.row) * 2048 + d.column];
    if (d.kind == N47SIM_DEFECT_DEAD) {
      EXPECT_EQ(v, 0);
    } else if (d.kind == N47SIM_DEFECT_HOT || d.kind == N47SIM_DEFECT_CLUSTER) {
      EXPECT_EQ(v, 16383);
    }
  }
}

std::vector<n47sim_defect> allDefects() {
  std::vector<n47sim_defect> defects(n47sim_model_defects(nullptr, 0));
  n47sim_model_defects(defects.data(), defects.size());
  return defects;
}

TEST_F(DetectorModel, EveryParameterAtTheTopOfItsRangeKeepsTheDefectsOnThePanel) {
  size_t count = 0;
  const n47sim_model_range* ranges = n47sim_model_ranges(&count);
  ASSERT_EQ(count, 14u);
  EXPECT_STREQ(ranges[0].name, "dark_offset");
  EXPECT_STREQ(ranges[count - 1].name, "band_lines");
  for (std::uint32_t seed = 0; seed < 4; ++seed) {
    params.seed = seed;
    params.dead_rows = params.bright_columns = 3, params.band_lines = 337, params.clusters = 10000;
    ASSERT_EQ(n47sim_model_start(&params), 1);
    for (const auto& d : allDefects()) {
      ASSERT_TRUE(d.row >= -1 && d.row < 1536 && d.column >= -1 && d.column < 2048) << d.row << "," << d.column;
    }
  }
}

TEST_F(DetectorModel, AParameterOutsideItsRangeIsRefusedAndThePreviousModelStays) {
  ASSERT_EQ(n47sim_model_start(&params), 1);
  const auto frame = render(N47SIM_SCENE_FLAT, 3000);
  const struct {
    double n47sim_model_params::*real;
    int n47sim_model_params::*count;
    double value;
  } bad[] = {
      {&n47sim_model_params::dark_offset, nullptr, -1},        {&n47sim_model_params::dark_offset, nullptr, NAN},
      {&n47sim_model_params::prnu, nullptr, 0.11},             {&n47sim_model_params::shading, nullptr, 0.76},
      {&n47sim_model_params::quantum_gain, nullptr, -0.5},     {&n47sim_model_params::impulse_rate, nullptr, INFINITY},
      {nullptr, &n47sim_model_params::dead_rows, 4},           {nullptr, &n47sim_model_params::bright_columns, 5000},
      {nullptr, &n47sim_model_params::band_lines, 338},        {nullptr, &n47sim_model_params::dead_pixels, -1},
  };
  for (const auto& field : bad) {
    n47sim_model_params changed = params;
    changed.seed = 99;
    if (field.real != nullptr) changed.*field.real = field.value;
    if (field.count != nullptr) changed.*field.count = static_cast<int>(field.value);
    EXPECT_EQ(n47sim_model_start(&changed), 0) << field.value;
  }
  EXPECT_TRUE(allDefects().empty());
  const auto after = render(N47SIM_SCENE_FLAT, 3000);
  ASSERT_EQ(n47sim_model_start(&params), 1);
  EXPECT_EQ(render(N47SIM_SCENE_FLAT, 3000), frame);
  EXPECT_EQ(render(N47SIM_SCENE_FLAT, 3000), after) << "the first model went on as if never interrupted";
}

TEST_F(DetectorModel, ASeedRepeatsTheRunAndAnotherSeedDoesNot) {
  n47sim_model_start(&params);
  const auto first = render(N47SIM_SCENE_PHANTOM, 3000);
  const auto second = render(N47SIM_SCENE_PHANTOM, 3000);
  EXPECT_NE(first, second) << "every frame draws fresh noise";
  n47sim_model_start(&params);
  EXPECT_EQ(render(N47SIM_SCENE_PHANTOM, 3000), first);
  params.seed = 12;
  n47sim_model_start(&params);
  EXPECT_NE(render(N47SIM_SCENE_PHANTOM, 3000), first);
}

TEST_F(DetectorModel, TheIdealPhantomShowsItsFeaturesOnTheOpenField) {
  n47sim_model_start(&params);
  n47sim_model_set_scene(N47SIM_SCENE_PHANTOM, 3000);
  std::vector<std::uint16_t> ideal(kPixels);
  n47sim_model_ideal(ideal.data());
  const auto at = [&](int r, int c) { return ideal[static_cast<std::size_t>(r) * 2048 + c]; };
  EXPECT_EQ(at(50, 50), at(1500, 2000)) << "the open field is flat in the ideal image";
  EXPECT_NEAR(at(50, 50), 3100, 300) << "dark level plus the dose at the panel's mean response";
  EXPECT_LT(at(300, 1700), at(300, 300)) << "the step wedge darkens";
  EXPECT_LT(at(1160, 300), at(1160, 450)) << "a disc absorbs";
}

TEST_F(DetectorModel, TheModelDeliversFramesAndMessagesThroughTheGrabber) {
  n47sim_model_start(&params);
  n47sim_model_set_scene(N47SIM_SCENE_FLAT, 2000);
  std::vector<std::uint16_t> frame(kPixels);
  std::int32_t bytes = 6291456;
  LVDS_GetFrame(&bytes, frame.data());
  std::vector<std::uint16_t> last(kPixels);
  n47sim_last_frame(last.data());
  EXPECT_EQ(frame, last);
  EXPECT_NEAR(centreMoments(frame).mean, 2100, 150);

  std::uint8_t message[64] = {};
  std::int32_t length = 64;
  UART_GetData(&length, message);
  ASSERT_EQ(message[10], 'f');
  ASSERT_EQ(message[12], 'g');
  EXPECT_EQ(static_cast<std::int8_t>(message[11]) - 5, n47sim_model_temperature());
  EXPECT_GT(n47sim_model_temperature(), 15);
  EXPECT_LT(n47sim_model_temperature(), 45);
}

TEST(RawPlayback, PlaysAWholeFileAndRefusesAnythingElse) {
  n47sim_reset();
  const std::string path = ::testing::TempDir() + "n47_playback.raw";
  std::vector<std::uint8_t> bytes(kPixels * 2);
  bytes[0] = 0x34, bytes[1] = 0x12;
  bytes[2 * 5] = 0xFF, bytes[2 * 5 + 1] = 0xFF;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  ASSERT_EQ(n47sim_play_raw_file(path.c_str()), 1);
  std::vector<std::uint16_t> frame(kPixels);
  std::int32_t count = 6291456;
  LVDS_GetFrame(&count, frame.data());
  EXPECT_EQ(frame[0], 0x1234);
  EXPECT_EQ(frame[5], 0xFFFF);
  file = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size() - 1, file);
  std::fclose(file);
  EXPECT_EQ(n47sim_play_raw_file(path.c_str()), 0);
  EXPECT_EQ(n47sim_play_raw_file("/no/such/file.raw"), 0);
  std::remove(path.c_str());
}

}  // namespace
