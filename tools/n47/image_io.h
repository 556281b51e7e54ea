// Frames and pictures on disk: headerless raw frames, 16-bit TIFF, 8-bit PNG. Every writer
// writes a uniquely named temporary beside the target and renames it over the target only
// when the whole file is on the device, so a failed run never leaves a half-written or
// clobbered output; a target that is no ordinary file (a device, FIFO or socket) is refused.
#ifndef N47_TOOLS_IMAGE_IO_H
#define N47_TOOLS_IMAGE_IO_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace n47tool {

inline constexpr int kWidth = 2048;
inline constexpr int kHeight = 1536;
inline constexpr std::size_t kPixels = static_cast<std::size_t>(kWidth) * kHeight;

using Frame = std::vector<std::uint16_t>;

// A picture for PNG output: 8-bit grey (channels 1) or RGB (channels 3).
struct Picture {
  int width = 0, height = 0, channels = 1;
  std::vector<std::uint8_t> bytes;
};

// Throws std::runtime_error with a message that names the file.
Frame readRawFrame(const std::string& path);
std::vector<std::uint8_t> readFileExactly(const std::string& path, std::size_t bytes, const char* what);
void writeRawFrame(const std::string& path, const Frame& frame);
// 16-bit greyscale TIFF. `description` (the ImageDescription tag) says what the frame is; the
// Software tag names n47 and its version.
void writeTiff16(const std::string& path, const Frame& frame, const std::string& description);
// A multi-page TIFF of up to `pages` full frames. `page(index, frame, description)` fills each
// page just before it is written, so a long series never has to fit in memory; it returns
// false to end the file before that page (never for the first). A series larger than a
// classic TIFF's 4 GiB is written as a BigTIFF. Returns the pages written.
using PageSource = std::function<bool(int index, Frame& frame, std::string& description)>;
int writeTiffPages(const std::string& path, int pages, const PageSource& page);
// The bytes a file of `pages` frames takes on disk, at most.
std::uint64_t tiffPagesBytes(int pages);
// The first page of a 16-bit greyscale TIFF, of any size.
Frame readTiff16(const std::string& path, int& width, int& height);
struct TiffInfo {
  int pages = 0;
  std::string description, software;  // of the page asked for
};
TiffInfo readTiffInfo(const std::string& path, int page = 0);
bool isTiffPath(const std::string& path);
// A whole frame from a raw file or from a TIFF as n47 writes it (one page, 2048 x 1536,
// 16-bit grey); every other TIFF is refused with a message that says why. `description`
// receives the TIFF's ImageDescription, or "" for a raw file.
Frame readFrame(const std::string& path, std::string* description = nullptr);
void writePng(const std::string& path, const Picture& picture);
void writeTextFile(const std::string& path, const std::string& text);
Picture readPng(const std::string& path);

// Lower-cased extension with the dot (".tif"), or "".
std::string extensionOf(const std::string& path);
// Fails early, before any work, when an output cannot be created where it is asked for.
void checkWritable(const std::string& path);

// Window and level: maps [low, high] onto 0 .. 255.
struct Window {
  double low = 0.0, high = 16383.0;
};
// The 0.5 % and 99.5 % points of the pixels inside the frame's 20-pixel border.
Window autoWindow(const Frame& frame, int width = kWidth, int height = kHeight);
// The median of the same pixels, and the window median * (1 - relative) .. median * (1 + relative):
// two frames shown this way are comparable, their texture in the same relative scale.
double innerMedian(const Frame& frame, int width = kWidth, int height = kHeight);
Window medianWindow(const Frame& frame, double relative, int width = kWidth, int height = kHeight);
Picture toGrey(const Frame& frame, Window window, int width = kWidth, int height = kHeight);
// Side by side with a gap, each half downscaled by `factor` (1 = full size).
Picture sideBySide(const Picture& left, const Picture& right, int factor);

}  // namespace n47tool

#endif
