// Captions, legends and scales drawn into the tool's pictures, with a built-in 5 x 7 font
// (capitals, digits and a little punctuation; small letters are drawn as capitals). Text is
// drawn at a whole-number scale, so it stays legible where a page shows the picture at half size.
#ifndef N47_TOOLS_PICTURE_TEXT_H
#define N47_TOOLS_PICTURE_TEXT_H

#include <cstdint>
#include <string>
#include <vector>

#include "image_io.h"

namespace n47tool {

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
};

// Pixels of a line of text across and down: 6 and 8 per character at scale 1.
int textWidth(const std::string& text, int scale);
inline int lineHeight(int scale) { return 10 * scale; }

// Grey pictures take the red component as their level.
void fillRect(Picture& picture, int x, int y, int width, int height, Rgb colour);
void drawText(Picture& picture, int x, int y, const std::string& text, int scale, Rgb colour);

// The picture with `lines` of text added in a white band below it.
Picture withCaption(const Picture& picture, const std::vector<std::string>& lines, int scale);

}  // namespace n47tool

#endif
