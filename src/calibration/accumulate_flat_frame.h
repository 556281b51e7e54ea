#ifndef N47_CALIBRATION_ACCUMULATE_FLAT_FRAME_H
#define N47_CALIBRATION_ACCUMULATE_FLAT_FRAME_H

#include <cstdint>

namespace n47 {

// 32-bit flat sums hold at most this many frames of 65535.
inline constexpr int kMaxCalibrationFrames = 65537;

// Adds one frame of a calibration series to the per-pixel sums (index 0 starts them from 0);
// at the last index (count - 1) turns the sums into the average flat frame, each pixel the
// sum divided by count, truncated and limited to 16383. The sums are exact for up to 65537
// frames. count must be at least 1.
void accumulateFlatFrame(std::uint32_t* flatSum, const std::uint16_t* frame, int width, int height, int index,
                         int count);

// The fast forms, one per instruction set (calibration_steps.h); each gives the literal step's
// sums for any count.
namespace fast {
void accumulateFlatFrameBaseline(std::uint32_t* flatSum, const std::uint16_t* frame, int width, int height, int index,
                                 int count);
void accumulateFlatFrameAvx2(std::uint32_t* flatSum, const std::uint16_t* frame, int width, int height, int index,
                             int count);
void accumulateFlatFrameAvx512(std::uint32_t* flatSum, const std::uint16_t* frame, int width, int height, int index,
                               int count);
}  // namespace fast

}  // namespace n47

#endif
