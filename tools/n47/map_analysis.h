// What is in a pixel map or a gain map file: counts, statistics and pictures.
#ifndef N47_TOOLS_MAP_ANALYSIS_H
#define N47_TOOLS_MAP_ANALYSIS_H

#include <cstdint>
#include <string>
#include <vector>

#include "image_io.h"

namespace n47tool {

inline constexpr std::size_t kPixelMapBytes = 2049u * 1537u;
inline constexpr std::size_t kGainMapBytes = kPixels * 4u;

using PixelMap = std::vector<std::uint8_t>;  // 1537 rows of 2049 bytes
using GainMap = std::vector<float>;          // 1536 rows of 2048

PixelMap readPixelMap(const std::string& path);
GainMap readGainMap(const std::string& path);

struct PixelMapStats {
  long byCode[256] = {};  // pixel cells by value
  int markedRows = 0, markedColumns = 0;
  int clusters = 0;       // groups of two or more touching defective cells
  int largestCluster = 0;
  // Lines by index: those the map's markers flag (repaired as lines) and those where more
  // than half the cells are defective (repaired cell by cell).
  std::vector<int> markedRowList, markedColumnList, defectiveCellRows, defectiveCellColumns;
};
PixelMapStats pixelMapStats(const PixelMap& map);
std::string describe(const PixelMapStats& stats);

struct GainStats {
  double minimum = 0, maximum = 0, mean = 0, deviation = 0;
  long zeros = 0, notFinite = 0;
  std::vector<long> histogram;  // 20 bins over 0.5 .. 1.5, the outer ones open
};
GainStats gainStats(const GainMap& map);
std::string describe(const GainStats& stats);

// "3, 7-9, 12" (at most `limit` runs, then "..."), or "none".
std::string listLines(const std::vector<int>& lines, std::size_t limit = 12);

// Defective cells white (code 2 yellow), marked rows and columns red, pink where both meet;
// single cells and small groups ringed in cyan, marked lines flagged by bars at both ends,
// and a legend below naming the colours and the lines.
Picture renderPixelMap(const PixelMap& map);
// Blue below 1, white at 1, red above (0.8 .. 1.2); black where the gain is 0 or not finite;
// a colour bar with its values below.
Picture renderGainMap(const GainMap& map);

}  // namespace n47tool

#endif
