#include "map_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>

namespace n47tool {
namespace {

constexpr int kMapWidth = kWidth + 1;

std::uint8_t cell(const PixelMap& map, int r, int c) { return map[static_cast<std::size_t>(r) * kMapWidth + c]; }

}  // namespace

PixelMap readPixelMap(const std::string& path) { return readFileExactly(path, kPixelMapBytes, "pixel-map file"); }

GainMap readGainMap(const std::string& path) {
  const auto bytes = readFileExactly(path, kGainMapBytes, "gain-map file");
  GainMap map(kPixels);
  for (std::size_t i = 0; i < kPixels; ++i) {
    const std::uint32_t bits = static_cast<std::uint32_t>(bytes[4 * i]) | static_cast<std::uint32_t>(bytes[4 * i + 1]) << 8 |
                               static_cast<std::uint32_t>(bytes[4 * i + 2]) << 16 | static_cast<std::uint32_t>(bytes[4 * i + 3]) << 24;
    std::memcpy(&map[i], &bits, 4);
  }
  return map;
}

PixelMapStats pixelMapStats(const PixelMap& map) {
  PixelMapStats stats;
  for (int r = 0; r < kHeight; ++r) {
    for (int c = 0; c < kWidth; ++c) ++stats.byCode[cell(map, r, c)];
    stats.markedRows += cell(map, r, kWidth) != 0;
  }
  for (int c = 0; c < kWidth; ++c) stats.markedColumns += cell(map, kHeight, c) != 0;

  // Groups of touching defective cells (8-neighbourhood), found by flood fill.
  std::vector<std::uint8_t> seen(kPixels, 0);
  std::vector<int> stack;
  for (int r = 0; r < kHeight; ++r) {
    for (int c = 0; c < kWidth; ++c) {
      if (cell(map, r, c) == 0 || seen[static_cast<std::size_t>(r) * kWidth + c]) continue;
      int size = 0;
      stack.assign(1, r * kWidth + c);
      seen[static_cast<std::size_t>(r) * kWidth + c] = 1;
      while (!stack.empty()) {
        const int at = stack.back();
        stack.pop_back();
        ++size;
        for (int dr = -1; dr <= 1; ++dr)
          for (int dc = -1; dc <= 1; ++dc) {
            const int y = at / kWidth + dr, x = at % kWidth + dc;
            if (y < 0 || y >= kHeight || x < 0 || x >= kWidth || cell(map, y, x) == 0) continue;
            std::uint8_t& mark = seen[static_cast<std::size_t>(y) * kWidth + x];
            if (!mark) mark = 1, stack.push_back(y * kWidth + x);
          }
      }
      if (size >= 2) {
        ++stats.clusters;
        stats.largestCluster = std::max(stats.largestCluster, size);
      }
    }
  }
  return stats;
}

std::string describe(const PixelMapStats& stats) {
  std::ostringstream out;
  long defective = 0;
  for (int code = 1; code < 256; ++code) defective += stats.byCode[code];
  out << "pixel cells: " << stats.byCode[0] << " good, " << defective << " defective\n";
  for (int code = 1; code < 256; ++code)
    if (stats.byCode[code] != 0) out << "  code " << code << ": " << stats.byCode[code] << "\n";
  out << "marked rows: " << stats.markedRows << "\nmarked columns: " << stats.markedColumns << "\n";
  out << "clusters (2 or more touching cells): " << stats.clusters << ", largest " << stats.largestCluster << " cells\n";
  return out.str();
}

GainStats gainStats(const GainMap& map) {
  GainStats stats;
  stats.histogram.assign(20, 0);
  double sum = 0, squares = 0;
  long n = 0;
  stats.minimum = INFINITY;
  stats.maximum = -INFINITY;
  for (float g : map) {
    if (!std::isfinite(g)) {
      ++stats.notFinite;
      continue;
    }
    if (g == 0.0f) ++stats.zeros;
    stats.minimum = std::min(stats.minimum, static_cast<double>(g));
    stats.maximum = std::max(stats.maximum, static_cast<double>(g));
    sum += g;
    squares += static_cast<double>(g) * g;
    ++n;
    const int bin = std::clamp(static_cast<int>(std::floor((g - 0.5) / 0.05)), 0, 19);
    ++stats.histogram[bin];
  }
  if (n > 0) {
    stats.mean = sum / n;
    stats.deviation = std::sqrt(std::max(0.0, squares / n - stats.mean * stats.mean));
  }
  return stats;
}

std::string describe(const GainStats& stats) {
  std::ostringstream out;
  out.precision(4);
  out << "gain: mean " << stats.mean << ", deviation " << stats.deviation << ", min " << stats.minimum << ", max "
      << stats.maximum << "\nzero gains: " << stats.zeros << "\nnot finite: " << stats.notFinite << "\nhistogram:\n";
  const long peak = std::max<long>(1, *std::max_element(stats.histogram.begin(), stats.histogram.end()));
  for (int bin = 0; bin < 20; ++bin) {
    const double low = 0.5 + 0.05 * bin;
    out << (bin == 0 ? "   <" : "    ") << std::fixed;
    out.precision(2);
    out << low << (bin == 19 ? "+ " : "  ") << std::string(static_cast<std::size_t>(50 * stats.histogram[bin] / peak), '#')
        << " " << stats.histogram[bin] << "\n";
  }
  return out.str();
}

Picture renderPixelMap(const PixelMap& map) {
  Picture picture{kWidth, kHeight, 3, std::vector<std::uint8_t>(kPixels * 3, 0)};
  for (int r = 0; r < kHeight; ++r) {
    for (int c = 0; c < kWidth; ++c) {
      std::uint8_t* rgb = &picture.bytes[(static_cast<std::size_t>(r) * kWidth + c) * 3];
      const std::uint8_t code = cell(map, r, c);
      const bool line = cell(map, r, kWidth) != 0 || cell(map, kHeight, c) != 0;
      if (code == 2) {
        rgb[0] = 255, rgb[1] = 220, rgb[2] = 0;
      } else if (code != 0) {
        rgb[0] = rgb[1] = rgb[2] = 255;
      }
      if (line) rgb[0] = 255, rgb[1] = static_cast<std::uint8_t>(rgb[1] / 3), rgb[2] = static_cast<std::uint8_t>(rgb[2] / 3);
    }
  }
  return picture;
}

Picture renderGainMap(const GainMap& map) {
  Picture picture{kWidth, kHeight, 3, std::vector<std::uint8_t>(kPixels * 3, 0)};
  for (std::size_t i = 0; i < kPixels; ++i) {
    const float g = map[i];
    std::uint8_t* rgb = &picture.bytes[i * 3];
    if (!std::isfinite(g) || g == 0.0f) continue;
    const double t = std::clamp((g - 1.0) / 0.2, -1.0, 1.0);  // -1 blue .. 0 white .. +1 red
    const auto level = [](double v) { return static_cast<std::uint8_t>(std::lround(255.0 * v)); };
    if (t < 0) {
      rgb[0] = level(1 + t), rgb[1] = level(1 + t), rgb[2] = 255;
    } else {
      rgb[0] = 255, rgb[1] = level(1 - t), rgb[2] = level(1 - t);
    }
  }
  return picture;
}

}  // namespace n47tool
