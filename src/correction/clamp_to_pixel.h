// The store of a double-precision result into a pixel, shared by the stages that compute in
// double. Internal linkage: the kernels of every instruction set include it, and the linker must
// not merge their copies into one built for the widest set.
#ifndef N47_CORRECTION_CLAMP_TO_PIXEL_H
#define N47_CORRECTION_CLAMP_TO_PIXEL_H

#include <cstdint>

#include "common/geometry.h"

namespace n47 {
namespace {

// Limits to 0 .. 16383 and truncates; a value that is not a number passes both limits and
// stores 0, since converting it to an integer would be undefined.
inline std::uint16_t clampToPixel(double value) {
  constexpr double kCeiling = kMaxPixelValue;
  if (value > kCeiling) {
    value = kCeiling;
  } else if (value < 0.0) {
    value = 0.0;
  }
  if (value != value) return 0;
  return static_cast<std::uint16_t>(value);
}

}  // namespace
}  // namespace n47

#endif
