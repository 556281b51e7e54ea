#include "correction/defect_lines/repair_defect_lines.h"

#include <cstddef>

#include "correction/clamp_to_pixel.h"

namespace n47 {
namespace {

constexpr int kSamples = 7;  // across the line, offsets -3 .. +3
constexpr int kHole = 1;     // the line and its two neighbours are left out of the fit
constexpr int kWindowLines = 3;
constexpr double kOneThird = 0.3333333333333333;
constexpr double kOuterWeight = 0.25;
constexpr double kZeroFitFactor = 10.0;

// One defective line L of `length` positions. Sample i across L at position a is
// origin[a * along + i * across]; samples 2, 3, 4 are L's lower neighbour, L and its upper
// neighbour in the order the rescale visits them.
void repairLine(std::uint16_t* origin, int length, std::ptrdiff_t along, std::ptrdiff_t across) {
  const auto sample = [&](int a, int i) -> std::uint16_t& { return origin[a * along + i * across]; };

  int offsets[kSamples];
  for (int i = 0; i < kSamples; ++i) offsets[i] = i - 3;

  // The window keeps its samples from pair to pair: the last pair of an even-length line
  // has no third window line and reuses what the previous pair read there.
  std::uint16_t window[kWindowLines][kSamples] = {};
  double profile[kSamples];
  double fitted[kSamples];
  double ratios[2 * kHole + 1];

  for (int pair = 0; pair < length / 2; ++pair) {
    const int first = 2 * pair;
    for (int line = 0; line < kWindowLines; ++line) {
      if (first + line >= length) continue;
      for (int i = 0; i < kSamples; ++i) window[line][i] = sample(first + line, i);
    }
    for (int i = 0; i < kSamples; ++i) {
      profile[i] = (0.0 + window[0][i] + window[1][i] + window[2][i]) * kOneThird;
    }
    const double intercept = (0.0 + profile[0] + profile[1] + profile[5] + profile[6]) * kOuterWeight;
    fitLine(fitted, profile, kSamples, kHole, intercept, offsets);
    profileRatios(ratios, fitted, profile, kSamples, kHole);
    for (int a = first; a <= first + 1; ++a) {
      for (int j = 0; j <= 2 * kHole; ++j) {
        std::uint16_t& pixel = sample(a, 2 + j);
        pixel = clampToPixel(pixel / ratios[j]);
      }
    }
  }

  for (int a = 0; a < length; ++a) {
    const std::int32_t neighbourSum = sample(a, 2) + sample(a, 4);
    const double half = neighbourSum * 0.5;
    sample(a, 3) = half > kMaxPixelValue ? kMaxPixelValue : static_cast<std::uint16_t>(half);
  }
}

}  // namespace

void fitLine(double* fitted, const double* profile, int n, int h, double b, const int* t) {
  const int centre = n / 2;
  double weightedSum = 0.0;
  int squaredOffsets = 0;
  for (int i = 0; i < n; ++i) {
    if (i >= centre - h && i <= centre + h) continue;
    weightedSum += t[i] * profile[i];
    squaredOffsets += t[i] * t[i];
  }
  const double slope = squaredOffsets != 0 ? weightedSum / squaredOffsets : weightedSum * kZeroFitFactor;
  for (int i = 0; i < n; ++i) fitted[i] = t[i] * slope + b;
}

void profileRatios(double* ratios, const double* fitted, const double* measured, int n, int h) {
  for (int j = 0; j <= 2 * h; ++j) {
    const int index = n / 2 - h + j;
    ratios[j] = fitted[index] == 0.0 ? measured[index] * kZeroFitFactor : measured[index] / fitted[index];
  }
}

void repairRow(std::uint16_t* frame, int width, int /*height*/, int y) {
  // Sample i at column a is pixel (y + 3 - i, a): rows y + 3 down to y - 3.
  repairLine(frame + static_cast<std::ptrdiff_t>(y + 3) * width, width, 1, -static_cast<std::ptrdiff_t>(width));
}

void repairColumn(std::uint16_t* frame, int width, int height, int x) {
  // Sample i at row a is pixel (a, x - 3 + i): columns x - 3 up to x + 3.
  repairLine(frame + (x - 3), height, width, 1);
}

void repairDefectLines(std::uint16_t* frame, int width, int height, ConstPixelMapRows pixelMap) {
  for (int y = 0; y < height; ++y) {
    if (pixelMap[y][width] != 0 && y >= kLineFitMargin && y <= height - 1 - kLineFitMargin) {
      repairRow(frame, width, height, y);
    }
  }
  const std::uint8_t* columnMarkers = pixelMap[height];
  for (int x = 0; x < width; ++x) {
    if (columnMarkers[x] == 0) continue;
    if (x >= kLineFitMargin && x <= width - 1 - kLineFitMargin) {
      repairColumn(frame, width, height, x);
    } else if (x == 0) {
      // A one-column frame has no column 1 to copy from.
      if (width < 2) continue;
      for (int r = 0; r < height; ++r) frame[r * width] = frame[r * width + 1];
    } else if (x <= 2 || x >= width - 3) {
      for (int r = 0; r < height; ++r) frame[r * width + x] = frame[r * width + x - 1];
    }
  }
}

}  // namespace n47
