// The calibration loops in the forms the compiler vectorizes without changing a result: integer
// sums (exact in any order), per-element floating-point steps, and the per-row sums of squares
// carried for eight rows side by side, each row still in its own column order. Each
// instruction-set source file includes this and compiles its own copy with its own flags; the
// anonymous namespace keeps the copies apart (the linker must never pick a wider copy for the
// baseline path). The files are built with -fno-trapping-math, which lets the compiler
// vectorize the divisions below; it changes no value, only the assumption that someone reads
// floating-point exception flags, which this library never does.
#ifndef N47_CALIBRATION_FAST_CALIBRATION_LOOPS_H
#define N47_CALIBRATION_FAST_CALIBRATION_LOOPS_H

#include <cstddef>
#include <cstdint>

#include "calibration/fast/calibration_kernels.h"
#include "common/geometry.h"

namespace n47::fast {
namespace {

void addFrame(std::uint32_t* flatSum, const std::uint16_t* frame, std::size_t pixels, bool first) {
  if (first) {
    for (std::size_t i = 0; i < pixels; ++i) flatSum[i] = frame[i];
  } else {
    for (std::size_t i = 0; i < pixels; ++i) flatSum[i] += frame[i];
  }
}

// sum / count, truncated, limited to 16383; count in 1 .. 65537. A sum of 16384 * count or more
// averages to the ceiling; below that it fits a signed 32-bit value, and the double quotient
// truncates to the integer quotient (it cannot round up across an integer: the gap is at least
// 1 / count, far above the rounding error of a quotient below 2^31).
void averageSums(std::uint32_t* flatSum, std::size_t pixels, int count) {
  const std::uint32_t ceilingSum = 16384u * static_cast<std::uint32_t>(count);
  const double divisor = count;
  for (std::size_t i = 0; i < pixels; ++i) {
    const std::uint32_t sum = flatSum[i];
    const auto below = static_cast<std::int32_t>(sum < ceilingSum ? sum : 0u);
    const auto quotient = static_cast<std::int32_t>(static_cast<double>(below) / divisor);
    flatSum[i] = sum >= ceilingSum ? static_cast<std::uint32_t>(kMaxPixelValue) : static_cast<std::uint32_t>(quotient);
  }
}

std::uint32_t rowSum(const std::uint16_t* pixels, int count) {
  std::uint32_t sum = 0;  // at most 2048 x 65535
  for (int c = 0; c < count; ++c) sum += pixels[c];
  return sum;
}

// Sums of (mean - v)^2 in double, each row in column order, for kRowsAtOnce rows side by side.
constexpr int kRowsAtOnce = kSquareRowsAtOnce;
void rowSquares(const std::uint16_t* firstRow, std::ptrdiff_t stride, int count, double mean, double* out) {
  double sums[kRowsAtOnce] = {};
  for (int c = 0; c < count; ++c) {
    for (int k = 0; k < kRowsAtOnce; ++k) {
      const double deviation = mean - firstRow[k * stride + c];
      sums[k] += deviation * deviation;
    }
  }
  for (int k = 0; k < kRowsAtOnce; ++k) out[k] = sums[k];
}

double oneRowSquares(const std::uint16_t* row, int count, double mean) {
  double sum = 0.0;
  for (int c = 0; c < count; ++c) {
    const double deviation = mean - row[c];
    sum += deviation * deviation;
  }
  return sum;
}

// Marks the outliers of one row (value >= above or value <= below) in cells and frame; returns
// how many cells of the row are marked afterwards, earlier marks included.
int markRow(std::uint16_t* pixels, std::uint8_t* cells, int count, std::int32_t above, std::int32_t below) {
  int marked = 0;
  for (int c = 0; c < count; ++c) {
    const std::int32_t value = pixels[c];
    const bool outlier = value >= above || value <= below;
    pixels[c] = outlier ? 5000 : 0;
    const std::uint8_t cell = outlier ? 1 : cells[c];
    cells[c] = cell;
    marked += cell != 0 ? 1 : 0;
  }
  return marked;
}

void countMarks(const std::uint8_t* cells, int count, std::uint16_t* columnCounts) {
  for (int c = 0; c < count; ++c) columnCounts[c] = static_cast<std::uint16_t>(columnCounts[c] + (cells[c] != 0 ? 1 : 0));
}

// v - 100 where v exceeds 100, else 0, in place; returns the largest result.
std::uint32_t removeOffset(std::uint32_t* values, std::size_t count) {
  std::uint32_t largest = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t v = values[i] > 100 ? values[i] - 100 : 0;
    values[i] = v;
    largest = v > largest ? v : largest;
  }
  return largest;
}

std::uint64_t wideRowSum(const std::uint32_t* values, int count) {
  std::uint64_t sum = 0;
  for (int c = 0; c < count; ++c) sum += values[c];
  return sum;
}

// mean / v in float where v < 2^24: both operands are exact floats, and a double quotient
// rounded to float equals the float quotient (53 >= 2 x 24 + 2 bits), so this matches the
// double form of the rule.
void gainRow(const std::uint32_t* values, int count, float mean, float* gains) {
  for (int c = 0; c < count; ++c) {
    const std::uint32_t value = values[c];
    const float divisor = value == 0 ? 1.0f : static_cast<float>(static_cast<std::int32_t>(value));
    const float quotient = mean / divisor;
    gains[c] = value == 0 ? 0.0f : quotient;
  }
}

constexpr CalibrationLoops kLoops = {addFrame,   averageSums, rowSum,       rowSquares, oneRowSquares,
                                     markRow,    countMarks,  removeOffset, wideRowSum, gainRow};

}  // namespace
}  // namespace n47::fast

#endif
