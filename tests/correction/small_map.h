// Small frames and pixel maps in the library's layout, for stage tests.
#ifndef N47_TESTS_CORRECTION_SMALL_MAP_H
#define N47_TESTS_CORRECTION_SMALL_MAP_H

#include <cstdint>
#include <vector>

namespace n47test {

struct Frame {
  Frame(int w, int h, std::uint16_t value) : width(w), height(h), pixels(static_cast<std::size_t>(w) * h, value) {}
  std::uint16_t& at(int r, int c) { return pixels[static_cast<std::size_t>(r) * width + c]; }
  std::uint16_t* data() { return pixels.data(); }
  int width, height;
  std::vector<std::uint16_t> pixels;
};

// (height + 1) rows of (width + 1) bytes: cells, a row marker per row, column markers last.
struct PixelMap {
  PixelMap(int w, int h) : width(w), height(h), cells(h + 1, std::vector<std::uint8_t>(w + 1, 0)) {
    for (auto& row : cells) rowPointers.push_back(row.data());
  }
  std::uint8_t& cell(int r, int c) { return cells[r][c]; }
  std::uint8_t& rowMarker(int r) { return cells[r][width]; }
  std::uint8_t& columnMarker(int c) { return cells[height][c]; }
  const std::uint8_t* const* rows() const { return rowPointers.data(); }
  int width, height;
  std::vector<std::vector<std::uint8_t>> cells;
  std::vector<std::uint8_t*> rowPointers;
};

struct GainMap {
  GainMap(int w, int h, float value) : cells(h, std::vector<float>(w, value)) {
    for (auto& row : cells) rowPointers.push_back(row.data());
  }
  const float* const* rows() const { return rowPointers.data(); }
  std::vector<std::vector<float>> cells;
  std::vector<float*> rowPointers;
};

}  // namespace n47test

#endif
