// The three calibration steps of a series of flat frames, and the last frame's two steps in one:
// their literal forms, and their fast forms, one per instruction set (fast_steps.h), which give
// the literal steps' sums, frames and maps for any count and geometry.
#ifndef N47_CALIBRATION_CALIBRATION_STEPS_H
#define N47_CALIBRATION_CALIBRATION_STEPS_H

#include "kernels/kernels.h"

namespace n47 {

// 32-bit flat sums hold at most this many frames of 65535.
inline constexpr int kMaxCalibrationFrames = 65537;

// Adds one frame of a calibration series to the per-pixel sums (index 0 starts them from 0);
// at the last index (count - 1) turns the sums into the average flat frame, each pixel the
// sum divided by count, truncated and limited to 16383. The sums are exact for up to 65537
// frames. count must be at least 1.
void accumulateFlatFrame(std::uint32_t* flatSum, const std::uint16_t* frame, int width, int height, int index,
                         int count);

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

// Turns the averaged flat frame into a gain map about the dark offset. Each value first
// loses the offset (values at or below it become 0, in place), then
//   mean = (sum over rows of (row sum / width), integer) / height, as a float,
//   gain = mean / value rounded to float, or 0.0 where the value is 0.
void computeGainMap(std::uint32_t* flatSum, int width, int height, GainMapRows gainMap);

// The last frame of a series of count frames: accumulateFlatFrame at index count - 1, then
// computeGainMap, with the same sums and gains. A calibration runs it before generateDefectMap,
// which reads and writes neither the sums nor the gain map; the fast forms make one pass over
// the sums fewer.
void finishFlatSeries(std::uint32_t* flatSum, const std::uint16_t* frame, int width, int height, int count,
                      GainMapRows gainMap);

namespace fast {
FlatFrameStep accumulateFlatFrameBaseline, accumulateFlatFrameAvx2, accumulateFlatFrameAvx512;
DefectMapStep generateDefectMapBaseline, generateDefectMapAvx2, generateDefectMapAvx512;
GainMapStep computeGainMapBaseline, computeGainMapAvx2, computeGainMapAvx512;
FinishSeriesStep finishFlatSeriesBaseline, finishFlatSeriesAvx2, finishFlatSeriesAvx512;
}

}  // namespace n47

#endif
