// Raw, headerless map files: a pixel map is 1537 records of 2049 bytes (3,149,313 bytes),
// a gain map 1536 records of 2048 little-endian 32-bit floats (12,582,912 bytes).
#ifndef N47_CALIBRATION_MAP_FILES_H
#define N47_CALIBRATION_MAP_FILES_H

#include <cstddef>
#include <cstdint>

#include "common/geometry.h"

namespace n47 {

inline constexpr std::size_t kPixelMapFileBytes = static_cast<std::size_t>(kMapWidth) * kMapHeight;
inline constexpr std::size_t kGainMapFileBytes = static_cast<std::size_t>(kFramePixels) * sizeof(float);

// Loading reads the whole file first and refuses (false, rows untouched) a missing,
// unreadable path, anything but an ordinary file (without waiting on a FIFO), or a file whose
// size is not exactly the format's.
bool loadPixelMap(const char* path, PixelMapRows rows, int mapWidth, int mapHeight);
bool loadGainMap(const char* path, GainMapRows rows, int width, int height);

// Saving goes through a FileReplacement: a uniquely named temporary beside the target,
// flushed to the device and renamed over it. A target that is not an ordinary file is
// refused; on any failure the temporary is removed, an existing target is left byte for byte
// as it was, and the result is false.
bool savePixelMap(const char* path, ConstPixelMapRows rows, int mapWidth, int mapHeight);
bool saveGainMap(const char* path, ConstGainMapRows rows, int width, int height);

}  // namespace n47

#endif
