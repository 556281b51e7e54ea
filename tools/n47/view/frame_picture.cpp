#include "view/frame_picture.h"

#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <memory>
#include <stdexcept>

namespace n47tool {

FrameRegion clampRegion(FrameRegion region) {
  region.binning = std::clamp(region.binning, 1, 8);
  region.width = std::clamp(region.width, region.binning, kWidth);
  region.height = std::clamp(region.height, region.binning, kHeight);
  region.x = std::clamp(region.x, 0, kWidth - region.width);
  region.y = std::clamp(region.y, 0, kHeight - region.height);
  return region;
}

Picture regionPicture(const Frame& frame, const FrameRegion& region, Window window) {
  // One grey level for every possible pixel value, so the loop below is a lookup.
  static thread_local std::array<std::uint8_t, 65536> levels;
  const double scale = 255.0 / (window.high - window.low);
  for (std::size_t value = 0; value < levels.size(); ++value) {
    const double level = (static_cast<double>(value) - window.low) * scale;
    levels[value] = level > 0.0 ? (level < 255.0 ? static_cast<std::uint8_t>(level) : 255) : 0;
  }
  const int b = region.binning;
  Picture picture{region.width / b, region.height / b, 1, {}};
  picture.bytes.resize(static_cast<std::size_t>(picture.width) * picture.height);
  std::uint8_t* out = picture.bytes.data();
  for (int r = 0; r < picture.height; ++r) {
    const std::uint16_t* top = frame.data() + static_cast<std::size_t>(region.y + r * b) * kWidth + region.x;
    for (int c = 0; c < picture.width; ++c) {
      std::uint32_t sum = 0;
      for (int dy = 0; dy < b; ++dy)
        for (int dx = 0; dx < b; ++dx) sum += top[static_cast<std::size_t>(dy) * kWidth + c * b + dx];
      *out++ = levels[sum / static_cast<std::uint32_t>(b * b)];
    }
  }
  return picture;
}

std::string encodeJpeg(const Picture& picture, int quality) {
  const std::unique_ptr<void, int (*)(tjhandle)> encoder(tjInitCompress(), tjDestroy);
  if (!encoder) throw std::runtime_error("the JPEG encoder could not start");
  unsigned char* bytes = nullptr;
  unsigned long size = 0;
  const int result = tjCompress2(encoder.get(), picture.bytes.data(), picture.width, picture.width, picture.height,
                                 TJPF_GRAY, &bytes, &size, TJSAMP_GRAY, quality, TJFLAG_FASTDCT);
  const std::unique_ptr<unsigned char, void (*)(unsigned char*)> owned(bytes, tjFree);
  if (result != 0) throw std::runtime_error(std::string("JPEG encoding failed: ") + tjGetErrorStr2(encoder.get()));
  return std::string(reinterpret_cast<const char*>(bytes), size);
}

}  // namespace n47tool
