// The row driver that every fast impulse filter shares. Each instruction-set source file
// includes it and instantiates it with its own block kernel. Everything here has internal
// linkage on purpose: one copy per file, compiled with that file's instruction flags, so the
// linker can never hand the baseline path a copy built for wider registers.
//
// The vector test. With window sum S, m = (S - 1) / 25 and D = sum |v - m| over the window, the
// centre P stays when 5e <= 2D, where e = P - m above m and m - 1 - P below it. For any two
// values a and b, |a - m| + |b - m| >= |a - b|, so twelve disjoint pairs of the window bound D
// from below without m: the ten vertical pairs outside the centre row (rows 0 and 1, rows 3 and
// 4 of each column) and the centre row's columns 0 and 1, 3 and 4. Each row start stores, per
// column, the sum of its two vertical pair differences (the column's "spread") and the centre
// row's step to the next column; a block adds five spreads and two steps. Every value of the
// window but P is in a pair, so an outlier anywhere else widens the bound as it widens D. On
// noise of any level the bound is about two thirds of D, far above what a pixel inside its band
// needs, and it does not depend on the mean, so shading and level do not weaken it. Saturating 16-bit sums are lower bounds too,
// so a block can only send extra positions to the exact rule, never misjudge one.
//
// How the in-place order is kept. For window row r, the block kernel decides from the frame as
// it stands when the row starts which positions are certainly inside their band (unchanged).
// Only a replacement at position c of the same row can invalidate that: it rewrites pixel
// (r + 2, c + 2), which lies in the windows of positions c + 1 and c + 2 (the windows of the
// positions before c are already done). So every undecided position, and the two after each
// replacement, are settled one by one on the live frame with the exact integer rule.
#ifndef N47_CORRECTION_IMPULSE_FILTER_IMPULSE_FILTER_ROWS_H
#define N47_CORRECTION_IMPULSE_FILTER_IMPULSE_FILTER_ROWS_H

#include <bit>
#include <cstddef>
#include <cstdint>

#include "common/geometry.h"
#include "common/prefetch.h"
#include "correction/impulse_filter/filter_impulse_noise.h"

namespace n47::fast {
namespace {

inline std::int32_t distance(std::int32_t a, std::int32_t b) { return a > b ? a - b : b - a; }

// m = (S - 1) / 25 of the window whose left column is c; 0 for a sum of 0 (division truncates).
inline std::int32_t windowMean(const std::uint32_t* columnSums, int c) {
  const auto sum = static_cast<std::int32_t>(columnSums[c] + columnSums[c + 1] + columnSums[c + 2] +
                                             columnSums[c + 3] + columnSums[c + 4]);
  return (sum - 1) / 25;
}

// The block's bound at one position, on the live frame: true when the centre certainly stays.
// It settles most positions that a replacement before them reopens without the exact rule.
inline bool certainlyInBand(const std::uint16_t* frame, int width, int r, int c, const std::uint32_t* columnSums,
                            const std::uint16_t* spreads) {
  const std::int32_t mean = windowMean(columnSums, c);
  const std::uint16_t* centre = frame + static_cast<std::ptrdiff_t>(r + 2) * width + c;
  std::int32_t bound = distance(centre[0], centre[1]) + distance(centre[3], centre[4]);
  for (int x = 0; x < 5; ++x) bound += spreads[c + x];
  const std::int32_t pixel = centre[2];
  const std::int32_t e = pixel > mean ? pixel - mean : mean - 1 - pixel;
  return 5 * e < 2 * bound;
}

// D = sum |v - m| over the window from top, one value at a time.
inline std::int32_t windowDeviationByValues(const std::uint16_t* top, int width, std::int32_t mean) {
  std::int32_t deviation = 0;
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) {
      const std::int32_t d = top[y * width + x] - mean;
      deviation += d < 0 ? -d : d;
    }
  return deviation;
}

// The exact rule at one position in its integer form: with S the window sum,
// m = (S - 1) / 25, D = sum |v - m|, k = 2D / 5, the band is m - k - 1 .. m + k.
// Returns true when the centre pixel was replaced; keeps the column sums in step.
template <class Block>
bool filterPosition(std::uint16_t* frame, int width, int r, int c, std::uint32_t* columnSums) {
  const std::uint16_t* top = frame + static_cast<std::ptrdiff_t>(r) * width + c;
  const std::int32_t mean = windowMean(columnSums, c);
  const std::int32_t deviation = Block::windowDeviation(top, width, mean);
  const std::int32_t halfWidth = 2 * deviation / 5;
  const std::int32_t upper = mean + halfWidth;
  const std::int32_t lower = mean - halfWidth - 1;
  std::uint16_t& pixel = frame[static_cast<std::ptrdiff_t>(r + 2) * width + c + 2];
  if (lower <= pixel && pixel <= upper) return false;

  std::int32_t inBand = 0;
  std::int32_t inBandSum = 0;
  for (int y = 1; y <= 3; ++y)
    for (int x = 1; x <= 3; ++x) {
      if (y == 2 && x == 2) continue;
      const std::int32_t value = top[y * width + x];
      if (lower <= value && value <= upper) {
        ++inBand;
        inBandSum += value;
      }
    }
  if (inBand <= 6) return false;
  const std::int32_t quotient = inBandSum / inBand;
  const std::uint16_t replacement = static_cast<std::uint16_t>(quotient > kMaxPixelValue ? kMaxPixelValue : quotient);
  columnSums[c + 2] += static_cast<std::uint32_t>(replacement) - pixel;  // wraps as intended
  pixel = replacement;
  return true;
}

// The index of the lowest set bit. A builtin rather than std::countr_zero: a library template
// would be a shared weak symbol, and the linker could keep the copy built for the widest set.
inline int lowestBit(std::uint64_t bits) {
#if defined(__GNUC__)
  return __builtin_ctzll(bits);
#else
  return std::countr_zero(bits);
#endif
}

// Ors a block's bits into the pending positions from `index` on; a block may straddle two words.
template <int kLanes>
void markPending(std::uint64_t* pending, int index, std::uint64_t bits) {
  const int shift = index % 64;
  pending[index / 64] |= bits << shift;
  if (shift != 0 && shift + kLanes > 64) pending[index / 64 + 1] |= bits >> (64 - shift);
}

// The spread of one column: |row 0 - row 1| + |row 3 - row 4| of the window, saturated at 65535
// as the vector additions saturate.
inline std::uint16_t columnSpread(const std::uint16_t* top, int width) {
  const std::int32_t spread = distance(top[0], top[width]) + distance(top[3 * width], top[4 * width]);
  return static_cast<std::uint16_t>(spread > 65535 ? 65535 : spread);
}

// advance() for single columns, the vector kernels' tail. The last column's step reads the
// first pixel of the next row, which the frame has below every centre row; no block uses it.
inline void advanceColumns(std::uint32_t* sums, std::uint16_t* spreads, std::uint16_t* steps,
                           const std::uint16_t* top, int width, int from, int count) {
  const std::uint16_t* centre = top + 2 * width;
  for (int x = from; x < count; ++x) {
    sums[x] += static_cast<std::uint32_t>(top[4 * width + x]) - top[x - width];  // wraps as intended
    spreads[x] = columnSpread(top + x, width);
    steps[x] = static_cast<std::uint16_t>(distance(centre[x], centre[x + 1]));
  }
}

// Block: a type with
//   static constexpr int kLanes;   positions decided per call, at most 64
//   static void advance(std::uint32_t* sums, std::uint16_t* spreads, std::uint16_t* steps,
//                       const std::uint16_t* windowTop, int width, int count);
//     for count columns from windowTop on: moves the column sums down one row (the row above
//     windowTop leaves, the row windowTop + 4 rows enters) and stores the column spreads and
//     the centre row's steps; one pass, so each row is loaded once
//   static std::uint64_t undecided(const std::uint32_t* sums, const std::uint16_t* spreads,
//                                  const std::uint16_t* steps, const std::uint16_t* centre);
//     bit i set: position i of the block may leave its band and goes to the exact rule
//   static std::int32_t windowDeviation(const std::uint16_t* windowTop, int width, std::int32_t mean);
//     D = sum |v - m| over the window, as windowDeviationByValues gives it
//   static void leaveVectorCode();   clears the upper register halves before scalar code runs
// Frames outside 9 <= width <= kFrameWidth, height >= 9 go to the literal stage: the scratch
// below is one row of the detector's width, on the stack.
template <class Block>
void filterImpulseNoiseRows(std::uint16_t* frame, int width, int height) {
  if (width < 9 || height < 9 || width > kFrameWidth) {
    n47::filterImpulseNoise(frame, width, height);
    return;
  }
  constexpr int kMaxPositions = kFrameWidth - 8;
  // Index x: the sum of column x over the five window rows. Bounded by the frame width.
  std::uint32_t columnSums[kFrameWidth];
  std::uint16_t spreads[kFrameWidth];  // index x: the spread of column x
  std::uint16_t steps[kFrameWidth];    // index x: |centre row at x - centre row at x + 1|
  std::uint64_t pending[(kMaxPositions + 63) / 64];

  const int positions = width - 8;  // columns 4 .. width - 5
  const int words = (positions + 63) / 64;
  const auto row = [&](int y) { return frame + static_cast<std::ptrdiff_t>(y) * width; };

  // The sums of rows 3 .. 7, so that the first advance makes them the first window's.
  for (int x = 4; x < width; ++x) {
    std::uint32_t sum = 0;
    for (int y = 3; y <= 7; ++y) sum += row(y)[x];
    columnSums[x] = sum;
  }

  for (int r = 4; r <= height - 5; ++r) {
    if (r + 5 < height) prefetchBytes(row(r + 5), static_cast<std::size_t>(width) * sizeof(std::uint16_t));
    Block::advance(columnSums + 4, spreads + 4, steps + 4, row(r) + 4, width, width - 4);
    const std::uint16_t* centre = row(r + 2);

    for (int w = 0; w < words; ++w) pending[w] = 0;
    // Blocks from the left; the last one ends at the last position and may overlap the one
    // before it (deciding a position twice on the same frame gives the same answer).
    const int lastBlock = width - 4 - Block::kLanes;
    if (lastBlock >= 4) {
      for (int c = 4; c < lastBlock; c += Block::kLanes) {
        markPending<Block::kLanes>(pending, c - 4, Block::undecided(columnSums + c, spreads + c, steps + c, centre + c));
      }
      markPending<Block::kLanes>(pending, lastBlock - 4,
                                 Block::undecided(columnSums + lastBlock, spreads + lastBlock, steps + lastBlock, centre + lastBlock));
      Block::leaveVectorCode();
    } else {
      for (int c = 4; c <= width - 5; ++c) pending[(c - 4) / 64] |= std::uint64_t{1} << ((c - 4) % 64);
    }

    for (int w = 0; w < words; ++w) {
      // Re-read the word each time: a replacement adds the two positions after it.
      while (pending[w] != 0) {
        const int index = w * 64 + lowestBit(pending[w]);
        pending[w] &= pending[w] - 1;
        if (certainlyInBand(frame, width, r, index + 4, columnSums, spreads)) continue;
        if (!filterPosition<Block>(frame, width, r, index + 4, columnSums)) continue;
        for (int next = index + 1; next <= index + 2 && next < positions; ++next) {
          pending[next / 64] |= std::uint64_t{1} << (next % 64);
        }
      }
    }
  }
}

}  // namespace
}  // namespace n47::fast

#endif
