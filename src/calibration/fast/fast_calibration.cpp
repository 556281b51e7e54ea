#include "calibration/fast/fast_calibration.h"

#include <cmath>
#include <cstddef>

#include "calibration/accumulate_flat_frame.h"
#include "calibration/compute_gain_map.h"
#include "calibration/fast/calibration_kernels.h"
#include "calibration/generate_defect_map.h"
#include "common/instruction_set.h"
#include "common/x86/cpu_features.h"

namespace n47::fast {
namespace {

// Null: use the literal step.
const CalibrationLoops* selectLoops() {
  switch (activeInstructionSet()) {
    case InstructionSet::kLiteral:
      return nullptr;
#if N47_X86
    case InstructionSet::kAvx512:
#if N47_HAVE_AVX512_KERNELS
      return &calibrationLoopsAvx512();
#endif
    case InstructionSet::kAvx2:
      return &calibrationLoopsAvx2();
#endif
    default:
      return &calibrationLoopsBaseline();
  }
}

constexpr int kLargestCount = 65537;  // 32-bit sums hold this many 16-bit frames

// Runs of 3 to 5 adjacent defective lines become a band, filled, its middle line flagged.
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

}  // namespace

void accumulateFlatFrame(std::uint32_t* flatSum, const std::uint16_t* frame, int width, int height, int index,
                         int count) {
  const CalibrationLoops* loops = selectLoops();
  if (loops == nullptr || count < 1 || count > kLargestCount) {
    n47::accumulateFlatFrame(flatSum, frame, width, height, index, count);
    return;
  }
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  loops->addFrame(flatSum, frame, pixels, index == 0);
  if (index == count - 1) loops->averageSums(flatSum, pixels, count);
}

void generateDefectMap(std::uint16_t* frame, int width, int height, PixelMapRows map) {
  const CalibrationLoops* loops = selectLoops();
  if (loops == nullptr || width <= 2 * kDefectMargin || height <= 2 * kDefectMargin || width > kFrameWidth ||
      height > kFrameHeight) {
    n47::generateDefectMap(frame, width, height, map);
    return;
  }
  const int first = kDefectMargin;
  const int lastRow = height - 1 - kDefectMargin;
  const int lastColumn = width - 1 - kDefectMargin;
  const int columns = width - 2 * kDefectMargin;
  const int rows = height - 2 * kDefectMargin;
  const auto row = [&](int r) { return frame + static_cast<std::ptrdiff_t>(r) * width; };

  // Mean: exact per-row sums, each row's mean added in double, rows in order.
  double total = 0.0;
  for (int r = first; r <= lastRow; ++r) total += static_cast<double>(loops->rowSum(row(r) + first, columns)) / columns;
  const float mean = static_cast<float>(total / rows);

  // Each row's squares in column order, kept as a float; then the variance over all rows.
  float rowSquares[kFrameHeight] = {};
  int r = first;
  for (; r + kSquareRowsAtOnce - 1 <= lastRow; r += kSquareRowsAtOnce) {
    double sums[kSquareRowsAtOnce];
    loops->rowSquares(row(r) + first, width, columns, static_cast<double>(mean), sums);
    for (int k = 0; k < kSquareRowsAtOnce; ++k) rowSquares[r + k] = static_cast<float>(sums[k]);
  }
  for (; r <= lastRow; ++r) rowSquares[r] = static_cast<float>(loops->oneRowSquares(row(r) + first, columns, mean));
  const double inverse = 1.0 / (static_cast<double>(columns) * rows - 1.0);
  double variance = 0.0;
  for (int y = 0; y < height; ++y) variance += static_cast<double>(rowSquares[y]) * inverse;
  const float sigma = static_cast<float>(std::sqrt(variance));

  const double spread = 3.0 * static_cast<double>(sigma);
  const double upper = static_cast<double>(mean) + spread;
  const double lower = static_cast<double>(mean) - spread;
  if (upper != upper || lower != lower) {
    n47::generateDefectMap(frame, width, height, map);  // cannot happen with 16-bit pixels; stay exact anyway
    return;
  }
  // For whole values: v > upper exactly when v >= floor(upper) + 1, v < lower when v <= ceil(lower) - 1.
  const std::int32_t above = upper < 0.0 ? 0 : upper >= 65536.0 ? 65536 : static_cast<std::int32_t>(std::floor(upper)) + 1;
  const std::int32_t below = lower <= 0.0 ? -1 : lower > 65536.0 ? 65535 : static_cast<std::int32_t>(std::ceil(lower)) - 1;

  // Pixel marks, defective rows, and the column counts those leave behind, row by row: a row's
  // count and fill depend only on its own cells, and the columns count the rows as filled.
  bool rowFound[kFrameHeight] = {};
  bool columnFound[kFrameWidth] = {};
  std::uint16_t columnMarks[kFrameWidth] = {};
  for (int y = first; y <= lastRow; ++y) {
    const int marked = loops->markRow(row(y) + first, map[y] + first, columns, above, below);
    if (marked > columns / 2) {
      for (int c = 0; c < width; ++c) map[y][c] = 1;
      rowFound[y] = true;
    }
    loops->countMarks(map[y] + first, columns, columnMarks + first);
  }
  for (int c = first; c <= lastColumn; ++c) {
    if (columnMarks[c] <= rows / 2) continue;
    for (int y = 0; y < height; ++y) map[y][c] = 1;
    columnFound[c] = true;
  }

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

void computeGainMap(std::uint32_t* flatSum, int width, int height, GainMapRows gainMap) {
  const CalibrationLoops* loops = selectLoops();
  if (loops == nullptr) {
    n47::computeGainMap(flatSum, width, height, gainMap);
    return;
  }
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  const std::uint32_t largest = loops->removeOffset(flatSum, pixels);

  std::int64_t total = 0;  // wide, as in the literal step
  for (int y = 0; y < height; ++y) {
    const std::uint64_t sum = loops->wideRowSum(flatSum + static_cast<std::size_t>(y) * width, width);
    total += static_cast<std::int64_t>(sum / static_cast<std::uint64_t>(width));
  }
  const float mean = static_cast<float>(total / height);

  for (int y = 0; y < height; ++y) {
    const std::uint32_t* values = flatSum + static_cast<std::size_t>(y) * width;
    if (largest < (1u << 24)) {
      loops->gainRow(values, width, mean, gainMap[y]);
    } else {  // values a float cannot hold exactly: the double form
      for (int c = 0; c < width; ++c)
        gainMap[y][c] = values[c] == 0 ? 0.0f : static_cast<float>(static_cast<double>(mean) / values[c]);
    }
  }
}

}  // namespace n47::fast
