// Frames and maps as the detector produces them, for the fast-path tests and the benchmarks:
// a smooth level with shading, noise of a few tens of counts, about 0.1 % impulses (some above
// 14 bits), about 0.1 % defective cells with code-2 clusters, a few marked rows and columns,
// and a gain map around 1 with a few odd entries.
#ifndef N47_TESTS_CORRECTION_FAST_REALISTIC_SCENE_H
#define N47_TESTS_CORRECTION_FAST_REALISTIC_SCENE_H

#include <cstdint>
#include <vector>

namespace n47test {

// A pixel map in the library's layout: (height + 1) rows of (width + 1) bytes. A copy points
// at its own bytes.
struct MapRows {
  MapRows(int w, int h);
  MapRows(const MapRows& other) : width(other.width), height(other.height), bytes(other.bytes) { point(); }
  MapRows& operator=(const MapRows&) = delete;
  void point();
  std::uint8_t& cell(int r, int c) { return bytes[static_cast<std::size_t>(r) * (width + 1) + c]; }
  std::uint8_t* const* rows() { return pointers.data(); }
  const std::uint8_t* const* rows() const { return pointers.data(); }
  int width, height;
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint8_t*> pointers;
};

// A gain map: height rows of width floats.
struct GainRows {
  GainRows(int w, int h);
  GainRows(const GainRows& other) : width(other.width), height(other.height), values(other.values) { point(); }
  GainRows& operator=(const GainRows&) = delete;
  void point();
  float* const* rows() { return pointers.data(); }
  const float* const* rows() const { return pointers.data(); }
  int width, height;
  std::vector<float> values;
  std::vector<float*> pointers;
};

struct Scene {
  Scene(int w, int h) : width(w), height(h), frame(static_cast<std::size_t>(w) * h), map(w, h), gain(w, h) {}
  int width, height;
  std::vector<std::uint16_t> frame;
  MapRows map;
  GainRows gain;
};

Scene makeRealisticScene(int width, int height, unsigned seed);

// A flat exposure of the calibration series: level, shading, noise, and a few defects.
std::vector<std::uint16_t> makeFlatFrame(int width, int height, unsigned seed);

}  // namespace n47test

#endif
