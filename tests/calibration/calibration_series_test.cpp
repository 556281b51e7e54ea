// Calibration through the exports: the refusals, the series semantics, and the whole road a
// service engineer takes: flats in calibration mode, new maps saved and loaded, then normal
// frames corrected with them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "api/detector_instance.h"
#include "n47sim/sim_control.h"
#include "support/detector_fixture.h"
#include "support/temp_dir.h"
#include "tavrin_n47.h"

namespace {

constexpr int W = 2048;
constexpr int H = 1536;
constexpr std::size_t kPixels = static_cast<std::size_t>(W) * H;

class CalibrationSeries : public n47test::DetectorTest {};

TEST_F(CalibrationSeries, RefusesANullFrameAndCountsOutsideOneTo65537TouchingNothing) {
  std::vector<std::uint16_t> frame(kPixels, 1000);
  d_->flatSum[5] = 77;
  d_->pixelMap[3][3] = 2;
  d_->newPixelMap[4][4] = 1;
  d_->newGainMap[0][0] = 3.0f;
  EXPECT_EQ(Map_Calibration(nullptr, 0, 1), 0);
  for (int count : {0, -1, 65538, -2147483647 - 1}) {
    SCOPED_TRACE(count);
    EXPECT_EQ(Map_Calibration(frame.data(), 0, count), 0);
  }
  EXPECT_EQ(d_->flatSum[5], 77u);
  EXPECT_EQ(d_->pixelMap[3][3], 2);
  EXPECT_EQ(d_->newPixelMap[4][4], 1);
  EXPECT_EQ(d_->newGainMap[0][0], 3.0f);
  EXPECT_EQ(frame[1000 * W + 1000], 1000);
}

TEST_F(CalibrationSeries, TheLargestCountIsAcceptedAndIndexZeroClearsBothPixelMaps) {
  std::vector<std::uint16_t> frame(kPixels, 1000);
  d_->pixelMap[3][3] = 2;
  d_->pixelMap[1536][2048] = 5;
  d_->newPixelMap[700][2048] = 1;
  EXPECT_EQ(Map_Calibration(frame.data(), 0, 65537), 1);
  for (int r = 0; r < d_->mapHeight; ++r) {
    for (int c = 0; c < d_->mapWidth; ++c) {
      ASSERT_EQ(d_->pixelMap[r][c], 0);
      ASSERT_EQ(d_->newPixelMap[r][c], 0);
    }
  }
  EXPECT_EQ(d_->flatSum[0], 1000u) << "a series in progress holds sums";
  EXPECT_EQ(frame[500 * W + 500], 0) << "the interior shows this frame's outliers only";
  EXPECT_EQ(frame[0], 1000) << "the margin is left as it was";
}

TEST_F(CalibrationSeries, ASingleFrameSeriesComputesTheGainMapInTheSameCall) {
  std::vector<std::uint16_t> frame(kPixels, 1100);
  frame[W + 1] = 2200;  // in the margin: no defect marking, but a gain of 0.5
  ASSERT_EQ(Map_Calibration(frame.data(), 0, 1), 1);
  EXPECT_EQ(d_->newGainMap[100][100], 1.0f);
  EXPECT_EQ(d_->newGainMap[1][1], static_cast<float>(1000.0 / 2100.0));
  EXPECT_EQ(d_->flatSum[W + 1], 2100u) << "the averaged flat less the offset";
  for (int r = 0; r < H; ++r) ASSERT_EQ(d_->gainMap[r][r], 1.0f) << "the active gain map is not touched";
}

// ---- the whole cycle ----------------------------------------------------------------------

struct Panel {
  std::vector<float> gain;  // per-pixel response
  std::vector<std::pair<int, int>> hotClusterPixels;
  int deadColumn = 700;
  int brightRow = 900;
  int bandFirstRow = 1200;  // three adjacent dark rows
};

Panel makePanel(std::mt19937& rng) {
  Panel panel;
  panel.gain.resize(kPixels);
  std::normal_distribution<float> prnu(1.0f, 0.04f);
  for (int r = 0; r < H; ++r) {
    for (int c = 0; c < W; ++c) {
      const float shading = 1.0f + 0.06f * std::cos(3.14159f * (c - W / 2) / W) * std::cos(3.14159f * (r - H / 2) / H);
      panel.gain[static_cast<std::size_t>(r) * W + c] = prnu(rng) * shading;
    }
  }
  for (int k = 0; k < 20; ++k) {
    const int r = 100 + 60 * k, c = 150 + 85 * k;
    for (int dr = 0; dr < 2; ++dr)
      for (int dc = 0; dc < 2; ++dc) panel.hotClusterPixels.emplace_back(r + dr, c + dc);
  }
  return panel;
}

std::vector<std::uint16_t> exposeFlat(const Panel& panel, double dose, std::mt19937& rng) {
  std::vector<std::uint16_t> frame(kPixels);
  std::normal_distribution<double> noise(0.0, 1.0);
  for (std::size_t i = 0; i < kPixels; ++i) {
    const double signal = dose * panel.gain[i];
    const double value = 100.0 + signal + noise(rng) * (3.0 + 0.005 * signal);
    frame[i] = static_cast<std::uint16_t>(std::clamp(value, 0.0, 16383.0));
  }
  for (auto [r, c] : panel.hotClusterPixels) frame[static_cast<std::size_t>(r) * W + c] = 16383;
  for (int r = 0; r < H; ++r) frame[static_cast<std::size_t>(r) * W + panel.deadColumn] = 0;
  for (int c = 0; c < W; ++c) frame[static_cast<std::size_t>(panel.brightRow) * W + c] = 15000;
  for (int r = panel.bandFirstRow; r < panel.bandFirstRow + 3; ++r)
    for (int c = 0; c < W; ++c) frame[static_cast<std::size_t>(r) * W + c] /= 4;
  return frame;
}

std::vector<std::uint16_t> acquire(const std::vector<std::uint16_t>& exposure) {
  n47sim_set_frame(exposure.data(), exposure.size());
  EXPECT_EQ(RunforDetector(1), 1);
  EXPECT_EQ(RunforDetector(2), 1);
  const unsigned short* image = GetImagePtr();
  return std::vector<std::uint16_t>(image, image + kPixels);
}

// Relative RMS deviation over the region clear of the masked border and the calibration margin.
double nonUniformityPercent(const std::vector<std::uint16_t>& frame) {
  double sum = 0.0, squares = 0.0;
  long n = 0;
  for (int r = 32; r < H - 32; ++r) {
    for (int c = 32; c < W - 32; ++c) {
      const double v = frame[static_cast<std::size_t>(r) * W + c];
      sum += v;
      squares += v * v;
      ++n;
    }
  }
  const double mean = sum / n;
  return 100.0 * std::sqrt(std::max(0.0, squares / n - mean * mean)) / mean;
}

TEST_F(CalibrationSeries, FlatsBecomeMapsThatRepairTheKnownDefectsAndFlattenTheResponse) {
  n47test::TempDir dir;
  std::mt19937 rng(47);
  const Panel panel = makePanel(rng);
  constexpr double kDose = 4000.0;
  constexpr int kFlats = 3;

  ASSERT_EQ(CalibrationMode(1), 1);
  for (int index = 0; index < kFlats; ++index) {
    std::vector<std::uint16_t> flat = acquire(exposeFlat(panel, kDose, rng));
    ASSERT_EQ(Map_Calibration(flat.data(), index, kFlats), 1);
  }
  ASSERT_EQ(SavePixelMap(dir.file("pixel.map").c_str()), 1);
  ASSERT_EQ(SaveGainMap(dir.file("gain.map").c_str()), 1);
  ASSERT_EQ(LoadPixelMap(dir.file("pixel.map").c_str()), 1);
  ASSERT_EQ(LoadGainMap(dir.file("gain.map").c_str()), 1);

  // The known defects are in the new map: clusters as pixels, the band's middle row as a line.
  for (auto [r, c] : panel.hotClusterPixels) EXPECT_NE(d_->pixelMap[r][c], 0) << r << "," << c;
  EXPECT_NE(d_->pixelMap[500][panel.deadColumn], 0);
  EXPECT_NE(d_->pixelMap[panel.brightRow][500], 0);
  EXPECT_NE(d_->pixelMap[panel.bandFirstRow + 1][W], 0);

  ASSERT_EQ(CalibrationMode(0), 0);
  const std::vector<std::uint16_t> raw = exposeFlat(panel, kDose, rng);
  const std::vector<std::uint16_t> corrected = acquire(raw);
  const double before = nonUniformityPercent(raw);
  const double after = nonUniformityPercent(corrected);
  std::printf("flat-field non-uniformity: %.2f %% before, %.2f %% after correction\n", before, after);
  EXPECT_LT(after, before / 3.0);

  const double level = 100.0 + kDose * 1.0;  // the corrected level sits near the mean response
  const auto near = [&](int r, int c) {
    const double v = corrected[static_cast<std::size_t>(r) * W + c];
    return std::abs(v - level) < 0.15 * level;
  };
  for (auto [r, c] : panel.hotClusterPixels) EXPECT_TRUE(near(r, c)) << "cluster pixel " << r << "," << c;
  for (int r = 40; r < H - 40; r += 97) EXPECT_TRUE(near(r, panel.deadColumn)) << "dead column at row " << r;
  for (int c = 40; c < W - 40; c += 97) {
    EXPECT_TRUE(near(panel.brightRow, c)) << "bright row at column " << c;
    for (int r = panel.bandFirstRow; r < panel.bandFirstRow + 3; ++r) EXPECT_TRUE(near(r, c)) << "band " << r << "," << c;
  }
}

}  // namespace
