// The border mask: the literal stage, and one fast form for every level (mask_border_rows.cpp).
#ifndef N47_CORRECTION_BORDER_MASK_MASK_BORDER_H
#define N47_CORRECTION_BORDER_MASK_MASK_BORDER_H

#include <cstdint>

namespace n47 {

inline constexpr int kBorderWidth = 20;

// Sets the outer 20 rows and 20 columns on each side to 16383 (rows first, then columns).
// A frame with fewer than 40 rows or columns is masked wholly in that direction.
void maskBorder(std::uint16_t* frame, int width, int height);

namespace fast {
// Row by row, each row written once; the same result.
void maskBorderByRows(std::uint16_t* frame, int width, int height);
}  // namespace fast

}  // namespace n47

#endif
