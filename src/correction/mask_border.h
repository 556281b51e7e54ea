#ifndef N47_CORRECTION_MASK_BORDER_H
#define N47_CORRECTION_MASK_BORDER_H

#include <cstdint>

namespace n47 {

inline constexpr int kBorderWidth = 20;

// Sets the outer 20 rows and 20 columns on each side to 16383 (rows first, then columns).
// The frame must have at least 20 rows and 20 columns.
void maskBorder(std::uint16_t* frame, int width, int height);

}  // namespace n47

#endif
