// Frames and maps in the library's layouts, for every test, fuzz target and benchmark. Each map
// row is allocated apart at its exact length, as the detector's are, so a sanitizer sees a stage
// that reads past a row; a copy points at its own rows.
#ifndef N47_TESTS_SUPPORT_MAPS_H
#define N47_TESTS_SUPPORT_MAPS_H

#include <cstdint>
#include <cstring>
#include <ostream>
#include <vector>

namespace n47test {

// width x height pixels, row by row.
struct Frame {
  Frame(int w, int h, std::uint16_t value = 0) : width(w), height(h), pixels(static_cast<std::size_t>(w) * h, value) {}
  std::uint16_t& at(int r, int c) { return pixels[static_cast<std::size_t>(r) * width + c]; }
  std::uint16_t at(int r, int c) const { return pixels[static_cast<std::size_t>(r) * width + c]; }
  std::uint16_t& operator[](std::size_t i) { return pixels[i]; }
  std::uint16_t operator[](std::size_t i) const { return pixels[i]; }
  std::uint16_t* data() { return pixels.data(); }
  const std::uint16_t* data() const { return pixels.data(); }
  std::size_t size() const { return pixels.size(); }
  auto begin() { return pixels.begin(); }
  auto end() { return pixels.end(); }
  bool operator==(const Frame& other) const = default;
  friend std::ostream& operator<<(std::ostream& out, const Frame& f) {
    return out << f.width << " x " << f.height << " frame";
  }
  int width, height;
  std::vector<std::uint16_t> pixels;
};

// `count` rows of `length` values and the row pointers the library takes.
template <typename T>
struct Rows {
  Rows(int length, int count, T value) : cells(static_cast<std::size_t>(count), std::vector<T>(length, value)) { point(); }
  Rows(const Rows& other) : cells(other.cells) { point(); }
  Rows& operator=(const Rows& other) {
    cells = other.cells;
    point();
    return *this;
  }
  T* const* rows() { return pointers.data(); }
  const T* const* rows() const { return pointers.data(); }
  // Byte for byte, so that NaN gains equal themselves.
  bool sameBytes(const Rows& other) const {
    if (cells.size() != other.cells.size()) return false;
    for (std::size_t r = 0; r < cells.size(); ++r)
      if (cells[r].size() != other.cells[r].size() ||
          std::memcmp(cells[r].data(), other.cells[r].data(), cells[r].size() * sizeof(T)) != 0)
        return false;
    return true;
  }
  template <class Visit>
  void forEach(Visit visit) {
    for (auto& row : cells)
      for (T& value : row) visit(value);
  }
  std::vector<std::vector<T>> cells;
  std::vector<T*> pointers;

 private:
  void point() {
    pointers.clear();
    for (auto& row : cells) pointers.push_back(row.data());
  }
};

// (height + 1) rows of (width + 1) bytes: cells, a row marker per row, column markers last.
struct PixelMap : Rows<std::uint8_t> {
  PixelMap(int w, int h) : Rows(w + 1, h + 1, 0), width(w), height(h) {}
  std::uint8_t& cell(int r, int c) { return cells[r][c]; }
  std::uint8_t& rowMarker(int r) { return cells[r][width]; }
  std::uint8_t& columnMarker(int c) { return cells[height][c]; }
  std::uint8_t cell(int r, int c) const { return cells[r][c]; }
  int width, height;
};

// height rows of width gains.
struct GainMap : Rows<float> {
  GainMap(int w, int h, float value = 1.0f) : Rows(w, h, value) {}
};

}  // namespace n47test

#endif
