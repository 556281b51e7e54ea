#ifndef N47_CALIBRATION_GENERATE_DEFECT_MAP_H
#define N47_CALIBRATION_GENERATE_DEFECT_MAP_H

#include <cstdint>

#include "common/geometry.h"

namespace n47 {

// Statistics and line detection leave out a margin of this many pixels on every side.
inline constexpr int kDefectMargin = 16;
// Outliers lie farther than this many standard deviations from the interior's mean.
inline constexpr double kDefectSigmas = 3.0;
// What the frame's interior reads at this frame's outliers afterwards (0 elsewhere).
inline constexpr std::uint16_t kOutlierMark = 5000;

// Marks, in a pixel map that collects a whole calibration series, the pixels of this flat
// frame that lie outside mean +- 3 sigma of its interior; promotes rows with more than half
// their interior cells marked, then columns likewise, to defective lines; and puts a line
// marker on the middle line of every run of 3 to 5 adjacent defective rows or columns.
// Rewrites the frame's interior to 5000 at this frame's outliers and 0 elsewhere; the margin
// is left as it is. Writes only 1 into the map. Needs 32 < width <= 2048 and
// 32 < height <= 1536 (the scratch is fixed); other geometry changes nothing.
void generateDefectMap(std::uint16_t* frame, int width, int height, PixelMapRows map);

// The fast forms, one per instruction set (calibration_steps.h); each gives the literal step's
// frame and map for any geometry.
namespace fast {
void generateDefectMapBaseline(std::uint16_t* frame, int width, int height, PixelMapRows map);
void generateDefectMapAvx2(std::uint16_t* frame, int width, int height, PixelMapRows map);
void generateDefectMapAvx512(std::uint16_t* frame, int width, int height, PixelMapRows map);
}  // namespace fast

}  // namespace n47

#endif
