// The parts of the defect map that the literal step and the fast ones share: the outlier band
// from the rows' sums of squares, and the bands of defective lines. Internal linkage, as
// everything the instruction-set files include.
#ifndef N47_CALIBRATION_DEFECT_MAP_RULES_H
#define N47_CALIBRATION_DEFECT_MAP_RULES_H

#include <cmath>

#include "calibration/calibration_steps.h"
#include "common/geometry.h"

namespace n47 {
namespace {

struct OutlierBand {
  double upper, lower;  // outliers lie above upper or below lower
};

// mean +- 3 sigma, the variance summed over all `height` rows in order from each row's squares
// (0 outside the interior) times 1 / (columns x rows - 1).
inline OutlierBand outlierBand(float mean, const float* rowSquares, int height, int columns, int rows) {
  const double inverse = 1.0 / (static_cast<double>(columns) * rows - 1.0);
  double variance = 0.0;
  for (int r = 0; r < height; ++r) variance += static_cast<double>(rowSquares[r]) * inverse;
  const float sigma = static_cast<float>(std::sqrt(variance));
  const double spread = kDefectSigmas * static_cast<double>(sigma);
  return {static_cast<double>(mean) + spread, static_cast<double>(mean) - spread};
}

// Runs of 3 to 5 adjacent defective rows, then columns, become a band, filled in full, with the
// middle line's marker set.

// One direction: lines first .. last; isDefective(line), fillLine(line), flagLine(line).
template <typename IsDefective, typename FillLine, typename FlagLine>
void markBands(int first, int last, IsDefective isDefective, FillLine fillLine, FlagLine flagLine) {
  int runStart = 0;
  int runLength = 0;
  const auto close = [&] {
    if (runLength >= 3 && runLength <= 5) {
      for (int line = runStart; line < runStart + runLength; ++line) fillLine(line);
      flagLine(runStart + (runLength - 1) / 2);
    }
    runLength = 0;
  };
  for (int line = first; line <= last; ++line) {
    if (isDefective(line)) {
      if (runLength == 0) runStart = line;
      ++runLength;
    } else {
      close();
    }
  }
  close();
}

// A line is defective when its marker is set or this frame promoted it (rowFound, columnFound).
inline void markDefectBands(PixelMapRows map, int width, int height, int first, int lastRow, int lastColumn,
                            const bool* rowFound, const bool* columnFound) {
  markBands(
      first, lastRow, [&](int y) { return map[y][width] != 0 || rowFound[y]; },
      [&](int y) {
        for (int c = 0; c < width; ++c) map[y][c] = 1;
      },
      [&](int y) { map[y][width] = 1; });
  markBands(
      first, lastColumn, [&](int c) { return map[height][c] != 0 || columnFound[c]; },
      [&](int c) {
        for (int y = 0; y < height; ++y) map[y][c] = 1;
      },
      [&](int c) { map[height][c] = 1; });
}

}  // namespace
}  // namespace n47

#endif
