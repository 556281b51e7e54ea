// The detector's fixed geometry, its pixel range and dark offset, and the map layouts shared by
// correction and calibration.
#ifndef N47_COMMON_GEOMETRY_H
#define N47_COMMON_GEOMETRY_H

#include <cstdint>

namespace n47 {

inline constexpr int kFrameWidth = 2048;
inline constexpr int kFrameHeight = 1536;
inline constexpr int kMapWidth = kFrameWidth + 1;    // pixel cells + row marker
inline constexpr int kMapHeight = kFrameHeight + 1;  // pixel rows + column-marker row
inline constexpr int kFramePixels = kFrameWidth * kFrameHeight;
inline constexpr int kMaxPixelValue = 16383;  // 14-bit ceiling
// What a pixel reads without light; gain correction and the gain map work about it.
inline constexpr int kDarkOffset = 100;

// A pixel map is (height + 1) separately allocated rows of (width + 1) bytes:
//   rows[r][c]      r < height, c < width : pixel cell of image pixel (r, c)
//   rows[r][width]  r < height            : row marker of image row r
//   rows[height][c] c < width             : column marker of image column c
//   rows[height][width]                   : corner byte, carries nothing
// 0 means good; any other value defective; 2 also selects the code-2 repair.
using PixelMapRows = std::uint8_t* const*;
using ConstPixelMapRows = const std::uint8_t* const*;

// A gain map is `height` separately allocated rows of `width` floats; 1.0 is unit gain.
using GainMapRows = float* const*;
using ConstGainMapRows = const float* const*;

}  // namespace n47

#endif
