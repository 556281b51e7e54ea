// The border mask: the literal stage, and one fast form for every level (mask_border_rows.cpp).
#ifndef N47_CORRECTION_BORDER_MASK_MASK_BORDER_H
#define N47_CORRECTION_BORDER_MASK_MASK_BORDER_H

#include "kernels/kernels.h"

namespace n47 {

inline constexpr int kBorderWidth = 20;

// Sets the outer 20 rows and 20 columns on each side to 16383 (rows first, then columns).
// A frame with fewer than 40 rows or columns is masked wholly in that direction.
void maskBorder(std::uint16_t* frame, int width, int height);

// Row by row, each row written once; the same result.
namespace fast {
FrameStage maskBorderByRows;
}

}  // namespace n47

#endif
