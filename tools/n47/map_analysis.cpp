#include "map_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "picture_text.h"

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

namespace {

struct Group {
  int size = 0;
  int top = kHeight, left = kWidth, bottom = -1, right = -1;
};

// Groups of touching defective cells (8-neighbourhood), found by flood fill.
std::vector<Group> defectGroups(const PixelMap& map) {
  std::vector<Group> groups;
  std::vector<std::uint8_t> seen(kPixels, 0);
  std::vector<int> stack;
  for (int r = 0; r < kHeight; ++r) {
    for (int c = 0; c < kWidth; ++c) {
      if (cell(map, r, c) == 0 || seen[static_cast<std::size_t>(r) * kWidth + c]) continue;
      Group group;
      stack.assign(1, r * kWidth + c);
      seen[static_cast<std::size_t>(r) * kWidth + c] = 1;
      while (!stack.empty()) {
        const int at = stack.back();
        stack.pop_back();
        const int ay = at / kWidth, ax = at % kWidth;
        ++group.size;
        group.top = std::min(group.top, ay), group.bottom = std::max(group.bottom, ay);
        group.left = std::min(group.left, ax), group.right = std::max(group.right, ax);
        for (int dr = -1; dr <= 1; ++dr)
          for (int dc = -1; dc <= 1; ++dc) {
            const int y = ay + dr, x = ax + dc;
            if (y < 0 || y >= kHeight || x < 0 || x >= kWidth || cell(map, y, x) == 0) continue;
            std::uint8_t& mark = seen[static_cast<std::size_t>(y) * kWidth + x];
            if (!mark) mark = 1, stack.push_back(y * kWidth + x);
          }
      }
      groups.push_back(group);
    }
  }
  return groups;
}

}  // namespace

PixelMapStats pixelMapStats(const PixelMap& map) {
  PixelMapStats stats;
  std::vector<int> defectiveInColumn(kWidth, 0);
  for (int r = 0; r < kHeight; ++r) {
    int defectiveInRow = 0;
    for (int c = 0; c < kWidth; ++c) {
      const std::uint8_t code = cell(map, r, c);
      ++stats.byCode[code];
      defectiveInRow += code != 0;
      defectiveInColumn[static_cast<std::size_t>(c)] += code != 0;
    }
    if (cell(map, r, kWidth) != 0) stats.markedRowList.push_back(r);
    if (2 * defectiveInRow > kWidth) stats.defectiveCellRows.push_back(r);
  }
  for (int c = 0; c < kWidth; ++c) {
    if (cell(map, kHeight, c) != 0) stats.markedColumnList.push_back(c);
    if (2 * defectiveInColumn[static_cast<std::size_t>(c)] > kHeight) stats.defectiveCellColumns.push_back(c);
  }
  stats.markedRows = static_cast<int>(stats.markedRowList.size());
  stats.markedColumns = static_cast<int>(stats.markedColumnList.size());
  for (const Group& group : defectGroups(map)) {
    if (group.size < 2) continue;
    ++stats.clusters;
    stats.largestCluster = std::max(stats.largestCluster, group.size);
  }
  return stats;
}

std::string listLines(const std::vector<int>& lines, std::size_t limit) {
  if (lines.empty()) return "none";
  std::string out;
  std::size_t runs = 0;
  for (std::size_t i = 0; i < lines.size();) {
    std::size_t j = i;
    while (j + 1 < lines.size() && lines[j + 1] == lines[j] + 1) ++j;
    if (runs == limit) return out + ", ...";
    if (!out.empty()) out += ", ";
    out += std::to_string(lines[i]);
    if (j > i) out.append("-").append(std::to_string(lines[j]));
    ++runs;
    i = j + 1;
  }
  return out;
}

std::string describe(const PixelMapStats& stats) {
  std::ostringstream out;
  long defective = 0;
  for (int code = 1; code < 256; ++code) defective += stats.byCode[code];
  out << "pixel cells: " << stats.byCode[0] << " good, " << defective << " defective\n";
  for (int code = 1; code < 256; ++code)
    if (stats.byCode[code] != 0) out << "  code " << code << ": " << stats.byCode[code] << "\n";
  out << "marked rows: " << stats.markedRows << " (" << listLines(stats.markedRowList) << ")\n"
      << "marked columns: " << stats.markedColumns << " (" << listLines(stats.markedColumnList) << ")\n"
      << "rows of defective cells (over half the row): " << stats.defectiveCellRows.size() << " ("
      << listLines(stats.defectiveCellRows) << ")\n"
      << "columns of defective cells (over half the column): " << stats.defectiveCellColumns.size() << " ("
      << listLines(stats.defectiveCellColumns) << ")\n";
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
    // Clamped in double: a huge gain must not overflow the conversion to int.
    const int bin = static_cast<int>(std::clamp(std::floor((g - 0.5) / 0.05), 0.0, 19.0));
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
    // The first bin holds everything below its upper edge, the last everything from its lower.
    const double edge = 0.5 + 0.05 * (bin == 0 ? 1 : bin);
    out << (bin == 0 ? "   <" : "    ") << std::fixed;
    out.precision(2);
    out << edge << (bin == 19 ? "+ " : "  ") << std::string(static_cast<std::size_t>(50 * stats.histogram[bin] / peak), '#')
        << " " << stats.histogram[bin] << "\n";
  }
  return out.str();
}

namespace {

constexpr Rgb kWhite{255, 255, 255}, kYellow{255, 220, 0}, kRed{255, 0, 0}, kPink{255, 85, 85}, kCyan{0, 220, 255},
    kBlack{0, 0, 0};
constexpr int kLegendScale = 3;

// Legend entry: a swatch and its words; returns the x after it.
int swatch(Picture& picture, int x, int y, Rgb colour, const std::string& words, bool ring = false) {
  const int side = 7 * kLegendScale;
  fillRect(picture, x, y, side, side, kBlack);
  if (ring) {
    fillRect(picture, x, y, side, side, colour);
    fillRect(picture, x + 3, y + 3, side - 6, side - 6, kBlack);
    fillRect(picture, x + side / 2 - 1, y + side / 2 - 1, 2, 2, kWhite);
  } else {
    fillRect(picture, x + 2, y + 2, side - 4, side - 4, colour);
  }
  drawText(picture, x + side + 2 * kLegendScale, y, words, kLegendScale, kBlack);
  return x + side + 2 * kLegendScale + textWidth(words, kLegendScale) + 8 * kLegendScale;
}

// A square outline `thickness` wide around the box, padded by `pad`.
void ringAround(Picture& picture, int top, int left, int bottom, int right, int pad, int thickness, Rgb colour) {
  const int x0 = left - pad, y0 = top - pad, x1 = right + pad, y1 = bottom + pad;
  fillRect(picture, x0, y0, x1 - x0 + 1, thickness, colour);
  fillRect(picture, x0, y1 - thickness + 1, x1 - x0 + 1, thickness, colour);
  fillRect(picture, x0, y0, thickness, y1 - y0 + 1, colour);
  fillRect(picture, x1 - thickness + 1, y0, thickness, y1 - y0 + 1, colour);
}

}  // namespace

Picture renderPixelMap(const PixelMap& map) {
  Picture picture{kWidth, kHeight, 3, std::vector<std::uint8_t>(kPixels * 3, 0)};
  const PixelMapStats stats = pixelMapStats(map);
  // A single cell is one pixel of 2048 and vanishes where a page shows the map at half size:
  // rings (drawn first, under the cells) mark every small group. Big groups show themselves.
  constexpr int kSmallGroup = 8;
  for (const Group& group : defectGroups(map)) {
    if (group.bottom - group.top < kSmallGroup && group.right - group.left < kSmallGroup) {
      ringAround(picture, group.top, group.left, group.bottom, group.right, 7, 3, kCyan);
    }
  }
  for (int r = 0; r < kHeight; ++r) {
    for (int c = 0; c < kWidth; ++c) {
      const std::uint8_t code = cell(map, r, c);
      const bool line = cell(map, r, kWidth) != 0 || cell(map, kHeight, c) != 0;
      if (code == 0 && !line) continue;
      std::uint8_t* rgb = &picture.bytes[(static_cast<std::size_t>(r) * kWidth + c) * 3];
      const Rgb colour = line ? (code != 0 ? kPink : kRed) : (code == 2 ? kYellow : kWhite);
      rgb[0] = colour.r, rgb[1] = colour.g, rgb[2] = colour.b;
    }
  }
  // A marked line is one pixel wide too: bars at both of its ends find it at any size.
  constexpr int kBar = 64, kBarWidth = 15;
  for (int r : stats.markedRowList) {
    fillRect(picture, 0, r - kBarWidth / 2, kBar, kBarWidth, kRed);
    fillRect(picture, kWidth - kBar, r - kBarWidth / 2, kBar, kBarWidth, kRed);
  }
  for (int c : stats.markedColumnList) {
    fillRect(picture, c - kBarWidth / 2, 0, kBarWidth, kBar, kRed);
    fillRect(picture, c - kBarWidth / 2, kHeight - kBar, kBarWidth, kBar, kRed);
  }

  const std::vector<std::string> lines{
      "marked rows: " + listLines(stats.markedRowList) + "    marked columns: " + listLines(stats.markedColumnList),
      "rows of defective cells: " + listLines(stats.defectiveCellRows) +
          "    columns of defective cells: " + listLines(stats.defectiveCellColumns),
  };
  Picture out = withCaption(picture, {"", "", lines[0], lines[1]}, kLegendScale);
  const int y = kHeight + 2 * kLegendScale;
  int x = 2 * kLegendScale;
  x = swatch(out, x, y, kWhite, "defective cell");
  x = swatch(out, x, y, kYellow, "code 2 cell");
  x = swatch(out, x, y, kRed, "marked row or column (bars at its ends)");
  swatch(out, x, y, kPink, "marked line over defective cells");
  swatch(out, 2 * kLegendScale, y + lineHeight(kLegendScale), kCyan, "ring: a single cell or a group of up to 8 x 8", true);
  return out;
}

namespace {

constexpr double kGainSpan = 0.2;  // the colours run over 1 - span .. 1 + span

Rgb gainColour(double gain) {
  const double t = std::clamp((gain - 1.0) / kGainSpan, -1.0, 1.0);  // -1 blue .. 0 white .. +1 red
  const auto level = [](double v) { return static_cast<std::uint8_t>(std::lround(255.0 * v)); };
  return t < 0 ? Rgb{level(1 + t), level(1 + t), 255} : Rgb{255, level(1 - t), level(1 - t)};
}

}  // namespace

Picture renderGainMap(const GainMap& map) {
  Picture picture{kWidth, kHeight, 3, std::vector<std::uint8_t>(kPixels * 3, 0)};
  for (std::size_t i = 0; i < kPixels; ++i) {
    const float g = map[i];
    if (!std::isfinite(g) || g == 0.0f) continue;
    const Rgb colour = gainColour(g);
    std::uint8_t* rgb = &picture.bytes[i * 3];
    rgb[0] = colour.r, rgb[1] = colour.g, rgb[2] = colour.b;
  }
  // The colour bar: a gradient over the span with a tick and a value every 0.05.
  constexpr int kScale = 3, kBarLeft = 60, kBarWidth = 1600, kBarHeight = 40;
  Picture out = withCaption(picture, {"", "", "", "", ""}, kScale);
  const int top = kHeight + 4 * kScale + lineHeight(kScale);
  drawText(out, 2 * kScale, kHeight + 2 * kScale, "gain (colours stop at 0.80 and 1.20; black: gain 0 or not finite)",
           kScale, kBlack);
  fillRect(out, kBarLeft - 2, top - 2, kBarWidth + 4, kBarHeight + 4, kBlack);
  for (int x = 0; x < kBarWidth; ++x) {
    const double gain = 1.0 - kGainSpan + 2.0 * kGainSpan * (x + 0.5) / kBarWidth;
    fillRect(out, kBarLeft + x, top, 1, kBarHeight, gainColour(gain));
  }
  for (int tick = 0; tick <= 8; ++tick) {
    const int x = kBarLeft + tick * (kBarWidth - 1) / 8;
    fillRect(out, x - 1, top + kBarHeight + 2, 3, 4 * kScale, kBlack);
    char value[8];
    std::snprintf(value, sizeof value, "%.2f", 1.0 - kGainSpan + tick * 2.0 * kGainSpan / 8);
    drawText(out, x - textWidth(value, kScale) / 2, top + kBarHeight + 6 * kScale, value, kScale, kBlack);
  }
  const int blackSwatch = kBarLeft + kBarWidth + 60;
  fillRect(out, blackSwatch, top, kBarHeight, kBarHeight, kBlack);
  drawText(out, blackSwatch + kBarHeight + 4 * kScale, top + kBarHeight / 2 - 3 * kScale, "0 / NaN", kScale, kBlack);
  return out;
}

}  // namespace n47tool
