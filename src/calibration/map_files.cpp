#include "calibration/map_files.h"

#include <bit>
#include <cstring>

#include "detector/allocation.h"
#include "platform/file_replacement.h"
#include "platform/read_whole_file.h"

namespace n47 {
namespace {

// The files hold little-endian values; every supported target is little-endian, and a
// big-endian one swaps each 4-byte entry on the way in and out.
void toFileByteOrder(std::uint8_t* bytes, std::size_t count, std::size_t entryBytes) {
  if constexpr (std::endian::native == std::endian::big) {
    for (std::size_t i = 0; i + entryBytes <= count; i += entryBytes) {
      for (std::size_t k = 0; k < entryBytes / 2; ++k) {
        const std::uint8_t t = bytes[i + k];
        bytes[i + k] = bytes[i + entryBytes - 1 - k];
        bytes[i + entryBytes - 1 - k] = t;
      }
    }
  } else {
    (void)bytes;
    (void)count;
  }
}

// A heap buffer that releases itself.
class Staging {
 public:
  explicit Staging(std::size_t bytes) : data_(static_cast<std::uint8_t*>(allocateZeroed(bytes))) {}
  ~Staging() { releaseMemory(data_); }
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;
  std::uint8_t* data() const { return data_; }

 private:
  std::uint8_t* data_;
};

template <typename T>
bool loadRows(const char* path, T* const* rows, int rowLength, int rowCount) {
  const std::size_t rowBytes = static_cast<std::size_t>(rowLength) * sizeof(T);
  const std::size_t total = rowBytes * static_cast<std::size_t>(rowCount);
  Staging staging(total);
  if (staging.data() == nullptr) return false;
  if (!readWholeFile(path, staging.data(), total)) return false;
  toFileByteOrder(staging.data(), total, sizeof(T));
  for (int r = 0; r < rowCount; ++r) std::memcpy(rows[r], staging.data() + r * rowBytes, rowBytes);
  return true;
}

template <typename T>
bool writeRows(FileReplacement& file, const T* const* rows, std::size_t rowBytes, int rowCount) {
  if constexpr (std::endian::native == std::endian::big) {
    Staging row(rowBytes);
    if (row.data() == nullptr) return false;
    for (int r = 0; r < rowCount; ++r) {
      std::memcpy(row.data(), rows[r], rowBytes);
      toFileByteOrder(row.data(), rowBytes, sizeof(T));
      if (!file.write(row.data(), rowBytes)) return false;
    }
    return true;
  } else {
    for (int r = 0; r < rowCount; ++r) {
      if (!file.write(rows[r], rowBytes)) return false;
    }
    return true;
  }
}

template <typename T>
bool saveRows(const char* path, const T* const* rows, int rowLength, int rowCount) {
  FileReplacement file(path);
  const std::size_t rowBytes = static_cast<std::size_t>(rowLength) * sizeof(T);
  return file.isOpen() && writeRows(file, rows, rowBytes, rowCount) && file.commit();
}

}  // namespace

bool loadPixelMap(const char* path, PixelMapRows rows, int mapWidth, int mapHeight) {
  return loadRows(path, rows, mapWidth, mapHeight);
}

bool loadGainMap(const char* path, GainMapRows rows, int width, int height) {
  return loadRows(path, rows, width, height);
}

bool savePixelMap(const char* path, ConstPixelMapRows rows, int mapWidth, int mapHeight) {
  return saveRows(path, rows, mapWidth, mapHeight);
}

bool saveGainMap(const char* path, ConstGainMapRows rows, int width, int height) {
  return saveRows(path, rows, width, height);
}

}  // namespace n47
