// A live frame as the page shows it: a part of the frame, binned, windowed to 8 bits and
// encoded as a JPEG.
#ifndef N47_TOOLS_VIEW_FRAME_PICTURE_H
#define N47_TOOLS_VIEW_FRAME_PICTURE_H

#include <string>

#include "image_io.h"

namespace n47tool {

// A rectangle of the frame in its own pixels, shown at one picture pixel per `binning` x
// `binning` block (their mean).
struct FrameRegion {
  int x = 0, y = 0, width = kWidth, height = kHeight;
  int binning = 1;
};

// The region moved and cut to lie inside the frame, a binning of 1 to 8, and at least one block.
FrameRegion clampRegion(FrameRegion region);
// Windowed as toGrey does; `region` must be clamped.
Picture regionPicture(const Frame& frame, const FrameRegion& region, Window window);
// Baseline greyscale JPEG bytes.
std::string encodeJpeg(const Picture& picture, int quality = 85);

}  // namespace n47tool

#endif
