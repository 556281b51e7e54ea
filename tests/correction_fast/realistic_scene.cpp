#include "realistic_scene.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace n47test {

MapRows::MapRows(int w, int h) : width(w), height(h), bytes(static_cast<std::size_t>(w + 1) * (h + 1), 0) { point(); }

void MapRows::point() {
  pointers.clear();
  for (int r = 0; r <= height; ++r) pointers.push_back(bytes.data() + static_cast<std::size_t>(r) * (width + 1));
}

GainRows::GainRows(int w, int h) : width(w), height(h), values(static_cast<std::size_t>(w) * h, 1.0f) { point(); }

void GainRows::point() {
  pointers.clear();
  for (int r = 0; r < height; ++r) pointers.push_back(values.data() + static_cast<std::size_t>(r) * width);
}

namespace {

double shading(int r, int c, int w, int h) {
  const double x = (c - w / 2.0) / w, y = (r - h / 2.0) / h;
  return 2000.0 * (1.0 - 0.3 * (x * x + y * y)) + 150.0 * x;
}

}  // namespace

Scene makeRealisticScene(int width, int height, unsigned seed) {
  Scene scene(width, height);
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 30.0);
  for (int r = 0; r < height; ++r)
    for (int c = 0; c < width; ++c) {
      double v = shading(r, c, width, height) + noise(rng);
      const unsigned k = rng() % 2000;
      if (k == 0) v = 16384 + rng() % 49152;  // above 14 bits
      if (k == 1) v = 0;
      if (k == 2) v += 5000;
      scene.frame[static_cast<std::size_t>(r) * width + c] = static_cast<std::uint16_t>(std::clamp(v, 0.0, 65535.0));
    }

  for (int r = 0; r < height; ++r)
    for (int c = 0; c < width; ++c)
      if (rng() % 1000 == 0) scene.map.cell(r, c) = rng() % 4 == 0 ? 2 : 1;
  for (int k = 0; k < (width * height) / 100000 + 1; ++k) {  // code-2 clusters
    const int r = static_cast<int>(rng() % height), c = static_cast<int>(rng() % width);
    for (int dr = 0; dr < 3 && r + dr < height; ++dr)
      for (int dc = 0; dc < 3 && c + dc < width; ++dc) scene.map.cell(r + dr, c + dc) = 2;
  }
  for (const int r : {height / 3, height / 3 + 1, (2 * height) / 3}) scene.map.cell(r, width) = 1;
  for (const int c : {0, width / 4, width / 2, width - 1}) scene.map.cell(height, c) = 1;

  std::normal_distribution<double> spread(1.0, 0.05);
  for (auto& g : scene.gain.values) g = static_cast<float>(spread(rng));
  for (int k = 0; k < 20; ++k) scene.gain.values[rng() % scene.gain.values.size()] = k % 2 ? 0.0f : -1.0f;
  return scene;
}

std::vector<std::uint16_t> makeFlatFrame(int width, int height, unsigned seed) {
  std::vector<std::uint16_t> frame(static_cast<std::size_t>(width) * height);
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 25.0);
  for (int r = 0; r < height; ++r)
    for (int c = 0; c < width; ++c) {
      double v = shading(r, c, width, height) + noise(rng);
      if (rng() % 3000 == 0) v = rng() % 2 ? 16383 : 0;
      if (c == width / 3) v *= 0.5;  // a weak column
      frame[static_cast<std::size_t>(r) * width + c] = static_cast<std::uint16_t>(std::clamp(v, 0.0, 65535.0));
    }
  return frame;
}

}  // namespace n47test
