#include "calibration/calibration_steps.h"

#include <cmath>
#include <cstddef>

#include "calibration/defect_map_rules.h"

namespace n47 {
namespace {

struct Interior {
  int first;       // first interior row or column
  int lastRow;     // last interior row
  int lastColumn;  // last interior column
  int columns;     // W' = width - 32
  int rows;        // H' = height - 32
};

}  // namespace

void generateDefectMap(std::uint16_t* frame, int width, int height, PixelMapRows map) {
  if (width <= 2 * kDefectMargin || height <= 2 * kDefectMargin || width > kFrameWidth || height > kFrameHeight) {
    return;
  }
  const Interior in{kDefectMargin, height - 1 - kDefectMargin, width - 1 - kDefectMargin, width - 2 * kDefectMargin,
                    height - 2 * kDefectMargin};
  const auto pixel = [&](int r, int c) -> std::uint16_t& { return frame[static_cast<std::size_t>(r) * width + c]; };

  // Only the line flags of a scratch map are ever used; they are bounded by the geometry.
  bool rowFound[kFrameHeight] = {};
  bool columnFound[kFrameWidth] = {};
  float rowSquares[kFrameHeight] = {};

  // Mean: exact per-row sums, each row's mean added in double.
  double total = 0.0;
  for (int r = in.first; r <= in.lastRow; ++r) {
    std::int64_t rowSum = 0;
    for (int c = in.first; c <= in.lastColumn; ++c) rowSum += pixel(r, c);
    total += static_cast<double>(rowSum) / in.columns;
  }
  const float mean = static_cast<float>(total / in.rows);

  // Standard deviation: each row's squares summed in double in column order, kept as a float.
  for (int r = in.first; r <= in.lastRow; ++r) {
    double squares = 0.0;
    for (int c = in.first; c <= in.lastColumn; ++c) {
      const double deviation = static_cast<double>(mean) - pixel(r, c);
      squares += deviation * deviation;
    }
    rowSquares[r] = static_cast<float>(squares);
  }
  const auto [upper, lower] = outlierBand(mean, rowSquares, height, in.columns, in.rows);

  for (int r = in.first; r <= in.lastRow; ++r) {
    for (int c = in.first; c <= in.lastColumn; ++c) {
      const double value = pixel(r, c);
      if (value > upper || value < lower) {
        map[r][c] = 1;
        pixel(r, c) = kOutlierMark;
      } else {
        pixel(r, c) = 0;
      }
    }
  }

  // Rows first, so that their fills count towards the columns.
  for (int r = in.first; r <= in.lastRow; ++r) {
    int marked = 0;
    for (int c = in.first; c <= in.lastColumn; ++c) marked += map[r][c] != 0 ? 1 : 0;
    if (marked > in.columns / 2) {
      for (int c = 0; c < width; ++c) map[r][c] = 1;
      rowFound[r] = true;
    }
  }
  for (int c = in.first; c <= in.lastColumn; ++c) {
    int marked = 0;
    for (int r = in.first; r <= in.lastRow; ++r) marked += map[r][c] != 0 ? 1 : 0;
    if (marked > in.rows / 2) {
      for (int r = 0; r < height; ++r) map[r][c] = 1;
      columnFound[c] = true;
    }
  }

  markDefectBands(map, width, height, in.first, in.lastRow, in.lastColumn, rowFound, columnFound);
}

}  // namespace n47
