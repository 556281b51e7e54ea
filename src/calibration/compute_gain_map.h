#ifndef N47_CALIBRATION_COMPUTE_GAIN_MAP_H
#define N47_CALIBRATION_COMPUTE_GAIN_MAP_H

#include <cstdint>

#include "common/geometry.h"

namespace n47 {

// Turns the averaged flat frame into a gain map about the dark offset. Each value first
// loses the offset (values at or below it become 0, in place), then
//   mean = (sum over rows of (row sum / width), integer) / height, as a float,
//   gain = mean / value rounded to float, or 0.0 where the value is 0.
void computeGainMap(std::uint32_t* flatSum, int width, int height, GainMapRows gainMap);

// The fast forms, one per instruction set (calibration_steps.h); each gives the literal step's
// sums and map for any geometry.
namespace fast {
void computeGainMapBaseline(std::uint32_t* flatSum, int width, int height, GainMapRows gainMap);
void computeGainMapAvx2(std::uint32_t* flatSum, int width, int height, GainMapRows gainMap);
void computeGainMapAvx512(std::uint32_t* flatSum, int width, int height, GainMapRows gainMap);
}  // namespace fast

}  // namespace n47

#endif
