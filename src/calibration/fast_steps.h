// The fast calibration steps: the steps written once, over inner loops in the forms the
// compiler vectorizes without changing a result (integer sums, exact in any order; per-element
// floating-point steps), and the per-row sums of squares carried for sixteen rows side by side
// in vector registers of the file's width, each row still in its own column order. Each
// instruction-set source file includes this and compiles its own copy with its own flags
// (N47_DEFINE_CALIBRATION_STEPS below); the anonymous namespace keeps the copies apart (the
// linker must never pick a wider copy for the baseline path). The files are built with
// -fno-trapping-math, which lets the compiler vectorize the divisions; it changes no value, only
// the assumption that someone reads floating-point exception flags, which this library never
// does. Geometry the steps are not built for goes to the literal step.
#ifndef N47_CALIBRATION_FAST_STEPS_H
#define N47_CALIBRATION_FAST_STEPS_H

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "calibration/calibration_steps.h"
#include "calibration/defect_map_rules.h"
#include "common/geometry.h"
#include "common/kernel_config.h"

#if N47_HAVE_X86_KERNELS
#include <immintrin.h>
#endif

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
  const std::uint32_t ceilingSum = (kMaxPixelValue + 1u) * static_cast<std::uint32_t>(count);
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

// Sums of (mean - v)^2 in double, each row in column order, for kRowsAtOnce rows side by side:
// the rows' sums are independent chains of additions, so many rows at once keep the adder busy.
constexpr int kRowsAtOnce = 16;

#if N47_HAVE_X86_KERNELS
// Eight rows of eight columns, one column per vector afterwards (rows 0 .. 7 in its lanes).
inline void transposeEightByEight(__m128i v[8]) {
  __m128i a[8], b[8];
  for (int k = 0; k < 4; ++k) {
    a[2 * k] = _mm_unpacklo_epi16(v[2 * k], v[2 * k + 1]);      // columns 0 .. 3 of two rows
    a[2 * k + 1] = _mm_unpackhi_epi16(v[2 * k], v[2 * k + 1]);  // columns 4 .. 7
  }
  for (int half = 0; half < 2; ++half) {  // rows 0 .. 3, then 4 .. 7
    const __m128i* p = a + 4 * half;
    b[4 * half + 0] = _mm_unpacklo_epi32(p[0], p[2]);  // columns 0, 1 of four rows
    b[4 * half + 1] = _mm_unpackhi_epi32(p[0], p[2]);  // columns 2, 3
    b[4 * half + 2] = _mm_unpacklo_epi32(p[1], p[3]);  // columns 4, 5
    b[4 * half + 3] = _mm_unpackhi_epi32(p[1], p[3]);  // columns 6, 7
  }
  for (int k = 0; k < 4; ++k) {
    v[2 * k] = _mm_unpacklo_epi64(b[k], b[k + 4]);
    v[2 * k + 1] = _mm_unpackhi_epi64(b[k], b[k + 4]);
  }
}

// The gathering of one column from eight rows is what the compiler cannot vectorize well: the
// rows are read eight columns at a time and turned around in registers. Every row still adds
// its own squares in column order, as the literal step does.
void rowSquares(const std::uint16_t* firstRow, std::ptrdiff_t stride, int count, double mean, double* out) {
  constexpr int kGroups = kRowsAtOnce / 8;
#if defined(__AVX512F__)
  __m512d sums[kGroups];
  for (auto& v : sums) v = _mm512_setzero_pd();
  const __m512d m = _mm512_set1_pd(mean);
  const auto add = [&](int g, __m128i column) {
    const __m512d d = _mm512_sub_pd(m, _mm512_cvtepi32_pd(_mm256_cvtepu16_epi32(column)));
    sums[g] = _mm512_add_pd(sums[g], _mm512_mul_pd(d, d));
  };
  const auto store = [&](int g, double* to) { _mm512_storeu_pd(to, sums[g]); };
#elif defined(__AVX2__)
  __m256d sums[kGroups][2];
  for (auto& g : sums) g[0] = g[1] = _mm256_setzero_pd();
  const __m256d m = _mm256_set1_pd(mean);
  const auto add = [&](int g, __m128i column) {
    const __m128i zero = _mm_setzero_si128();
    const __m256d d0 = _mm256_sub_pd(m, _mm256_cvtepi32_pd(_mm_unpacklo_epi16(column, zero)));
    const __m256d d1 = _mm256_sub_pd(m, _mm256_cvtepi32_pd(_mm_unpackhi_epi16(column, zero)));
    sums[g][0] = _mm256_add_pd(sums[g][0], _mm256_mul_pd(d0, d0));
    sums[g][1] = _mm256_add_pd(sums[g][1], _mm256_mul_pd(d1, d1));
  };
  const auto store = [&](int g, double* to) {
    _mm256_storeu_pd(to, sums[g][0]);
    _mm256_storeu_pd(to + 4, sums[g][1]);
  };
#else
  __m128d sums[kGroups][4];
  for (auto& g : sums) g[0] = g[1] = g[2] = g[3] = _mm_setzero_pd();
  const __m128d m = _mm_set1_pd(mean);
  const auto add = [&](int g, __m128i column) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = _mm_unpacklo_epi16(column, zero), high = _mm_unpackhi_epi16(column, zero);
    const __m128i quarters[4] = {low, _mm_shuffle_epi32(low, 0xee), high, _mm_shuffle_epi32(high, 0xee)};
    for (int q = 0; q < 4; ++q) {
      const __m128d d = _mm_sub_pd(m, _mm_cvtepi32_pd(quarters[q]));
      sums[g][q] = _mm_add_pd(sums[g][q], _mm_mul_pd(d, d));
    }
  };
  const auto store = [&](int g, double* to) {
    for (int q = 0; q < 4; ++q) _mm_storeu_pd(to + 2 * q, sums[g][q]);
  };
#endif
  int c = 0;
  for (; c + 8 <= count; c += 8) {
    for (int g = 0; g < kGroups; ++g) {
      __m128i v[8];
      for (int k = 0; k < 8; ++k)
        v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(firstRow + (8 * g + k) * stride + c));
      transposeEightByEight(v);
      for (int j = 0; j < 8; ++j) add(g, v[j]);
    }
  }
  for (int g = 0; g < kGroups; ++g) store(g, out + 8 * g);
  for (int k = 0; k < kRowsAtOnce; ++k) {  // the last columns, each row going on where it stopped
    double sum = out[k];
    for (int x = c; x < count; ++x) {
      const double deviation = mean - firstRow[k * stride + x];
      sum += deviation * deviation;
    }
    out[k] = sum;
  }
}
#else
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
#endif

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
    pixels[c] = outlier ? kOutlierMark : 0;
    const std::uint8_t cell = outlier ? 1 : cells[c];
    cells[c] = cell;
    marked += cell != 0 ? 1 : 0;
  }
  return marked;
}

void countMarks(const std::uint8_t* cells, int count, std::uint16_t* columnCounts) {
  for (int c = 0; c < count; ++c) columnCounts[c] = static_cast<std::uint16_t>(columnCounts[c] + (cells[c] != 0 ? 1 : 0));
}

// v - 100 where v exceeds the dark offset 100, else 0, in place; returns the largest result.
std::uint32_t removeOffset(std::uint32_t* values, std::size_t count) {
  std::uint32_t largest = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t v = values[i] > kDarkOffset ? values[i] - kDarkOffset : 0;
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

// Counts outside 1 .. 65537 go to the literal step: averageSums needs them.
inline void accumulateFlatFrameFast(std::uint32_t* flatSum, const std::uint16_t* frame, int width, int height,
                                    int index, int count) {
  if (count < 1 || count > kMaxCalibrationFrames) {
    n47::accumulateFlatFrame(flatSum, frame, width, height, index, count);
    return;
  }
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  addFrame(flatSum, frame, pixels, index == 0);
  if (index == count - 1) averageSums(flatSum, pixels, count);  // the detector's last step is finishFlatSeries
}

// Geometry outside the scratch goes to the literal step.
inline void generateDefectMapFast(std::uint16_t* frame, int width, int height, PixelMapRows map) {
  if (width <= 2 * kDefectMargin || height <= 2 * kDefectMargin || width > kFrameWidth ||
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
  for (int r = first; r <= lastRow; ++r) total += static_cast<double>(rowSum(row(r) + first, columns)) / columns;
  const float mean = static_cast<float>(total / rows);

  // Each row's squares in column order, kept as a float; then the variance over all rows.
  float squares[kFrameHeight] = {};
  int r = first;
  for (; r + kRowsAtOnce - 1 <= lastRow; r += kRowsAtOnce) {
    double sums[kRowsAtOnce];
    rowSquares(row(r) + first, width, columns, static_cast<double>(mean), sums);
    for (int k = 0; k < kRowsAtOnce; ++k) squares[r + k] = static_cast<float>(sums[k]);
  }
  for (; r <= lastRow; ++r) squares[r] = static_cast<float>(oneRowSquares(row(r) + first, columns, mean));
  const auto [upper, lower] = outlierBand(mean, squares, height, columns, rows);
  if (upper != upper || lower != lower) {
    // A one-pixel interior (33 x 33) has a variance of 0 / 0: the literal step's comparisons
    // with NaN mark nothing, which the integer thresholds below cannot say.
    n47::generateDefectMap(frame, width, height, map);
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
    const int marked = markRow(row(y) + first, map[y] + first, columns, above, below);
    if (marked > columns / 2) {
      for (int c = 0; c < width; ++c) map[y][c] = 1;
      rowFound[y] = true;
    }
    countMarks(map[y] + first, columns, columnMarks + first);
  }
  for (int c = first; c <= lastColumn; ++c) {
    if (columnMarks[c] <= rows / 2) continue;
    for (int y = 0; y < height; ++y) map[y][c] = 1;
    columnFound[c] = true;
  }

  markDefectBands(map, width, height, first, lastRow, lastColumn, rowFound, columnFound);
}

// The offset off one row of averaged sums, in place; its largest value, and its sum / width
// added to total (wide, as in the literal step).
inline void removeRowOffset(std::uint32_t* values, int width, std::uint32_t& largest, std::int64_t& total) {
  const std::uint32_t rowLargest = removeOffset(values, static_cast<std::size_t>(width));
  largest = rowLargest > largest ? rowLargest : largest;
  total += static_cast<std::int64_t>(wideRowSum(values, width) / static_cast<std::uint64_t>(width));
}

// The gains from the sums without their offset, given their largest value and total.
inline void writeGains(const std::uint32_t* flatSum, int width, int height, std::uint32_t largest, std::int64_t total,
                       GainMapRows gainMap) {
  const float mean = static_cast<float>(total / height);
  for (int y = 0; y < height; ++y) {
    const std::uint32_t* values = flatSum + static_cast<std::size_t>(y) * width;
    if (largest < (1u << 24)) {
      gainRow(values, width, mean, gainMap[y]);
    } else {  // values a float cannot hold exactly: the double form
      for (int c = 0; c < width; ++c)
        gainMap[y][c] = values[c] == 0 ? 0.0f : static_cast<float>(static_cast<double>(mean) / values[c]);
    }
  }
}

// The offset comes off each row just before the row is summed, while it is in the cache.
inline void computeGainMapFast(std::uint32_t* flatSum, int width, int height, GainMapRows gainMap) {
  std::uint32_t largest = 0;
  std::int64_t total = 0;
  for (int y = 0; y < height; ++y) {
    removeRowOffset(flatSum + static_cast<std::size_t>(y) * width, width, largest, total);
  }
  writeGains(flatSum, width, height, largest, total, gainMap);
}

// Each row of sums takes the last frame, is averaged, loses the offset and is summed in one
// visit: one pass over the sums before the gains instead of three.
inline void finishFlatSeriesFast(std::uint32_t* flatSum, const std::uint16_t* frame, int width, int height, int count,
                                 GainMapRows gainMap) {
  if (count < 1 || count > kMaxCalibrationFrames) {
    n47::finishFlatSeries(flatSum, frame, width, height, count, gainMap);
    return;
  }
  std::uint32_t largest = 0;
  std::int64_t total = 0;
  for (int y = 0; y < height; ++y) {
    const std::size_t at = static_cast<std::size_t>(y) * width;
    addFrame(flatSum + at, frame + at, static_cast<std::size_t>(width), count == 1);
    averageSums(flatSum + at, static_cast<std::size_t>(width), count);
    removeRowOffset(flatSum + at, width, largest, total);
  }
  writeGains(flatSum, width, height, largest, total, gainMap);
}

}  // namespace
}  // namespace n47::fast

// Defines the calibration steps of one instruction set, e.g. accumulateFlatFrameAvx2, in the
// file built with that set's flags.
#define N47_DEFINE_CALIBRATION_STEPS(Set)                                                                    \
  void n47::fast::accumulateFlatFrame##Set(std::uint32_t* flatSum, const std::uint16_t* frame, int width,  \
                                            int height, int index, int count) {                           \
    accumulateFlatFrameFast(flatSum, frame, width, height, index, count);                                 \
  }                                                                                                        \
  void n47::fast::generateDefectMap##Set(std::uint16_t* frame, int width, int height, PixelMapRows map) {  \
    generateDefectMapFast(frame, width, height, map);                                                     \
  }                                                                                                        \
  void n47::fast::computeGainMap##Set(std::uint32_t* flatSum, int width, int height, GainMapRows gainMap) { \
    computeGainMapFast(flatSum, width, height, gainMap);                                                  \
  }                                                                                                        \
  void n47::fast::finishFlatSeries##Set(std::uint32_t* flatSum, const std::uint16_t* frame, int width,      \
                                         int height, int count, GainMapRows gainMap) {                     \
    finishFlatSeriesFast(flatSum, frame, width, height, count, gainMap);                                  \
  }

#endif
