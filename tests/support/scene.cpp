#include "scene.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace n47test {

namespace {

double shading(int r, int c, int w, int h) {
  const double x = (c - w / 2.0) / w, y = (r - h / 2.0) / h;
  return 2000.0 * (1.0 - 0.3 * (x * x + y * y)) + 150.0 * x;
}

// Every pixel: the shading plus noise, then adjust(value, column), limited to 16 bits.
template <class Adjust>
void shade(Frame& frame, std::mt19937& rng, double noiseSigma, Adjust adjust) {
  std::normal_distribution<double> noise(0.0, noiseSigma);
  for (int r = 0; r < frame.height; ++r)
    for (int c = 0; c < frame.width; ++c) {
      const double v = adjust(shading(r, c, frame.width, frame.height) + noise(rng), c);
      frame.at(r, c) = static_cast<std::uint16_t>(std::clamp(v, 0.0, 65535.0));
    }
}

}  // namespace

Scene makeRealisticScene(int width, int height, unsigned seed) {
  Scene scene(width, height);
  std::mt19937 rng(seed);
  shade(scene.frame, rng, 30.0, [&](double v, int) {
    const unsigned k = rng() % 2000;
    if (k == 0) v = 16384 + rng() % 49152;  // above 14 bits
    if (k == 1) v = 0;
    if (k == 2) v += 5000;
    return v;
  });

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
  scene.gain.forEach([&](float& g) { g = static_cast<float>(spread(rng)); });
  const std::size_t gains = static_cast<std::size_t>(width) * height;
  for (int k = 0; k < 20; ++k) {
    const std::size_t at = rng() % gains;
    scene.gain.cells[at / width][at % width] = k % 2 ? 0.0f : -1.0f;
  }
  return scene;
}

Scene makeHardScene(int width, int height, unsigned seed) {
  Scene scene = makeRealisticScene(width, height, seed);
  std::mt19937 rng(seed + 1);
  const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const std::size_t pixels = static_cast<std::size_t>(width) * height;

  // Flat patches of up to 96 x 96: level +- 1 or 2 counts.
  for (int k = 0; k < 12; ++k) {
    const int r0 = pick(height), c0 = pick(width);
    const int level = 1500 + pick(1000);
    for (int r = r0; r < std::min(height, r0 + 96); ++r)
      for (int c = c0; c < std::min(width, c0 + 96); ++c) scene.frame.at(r, c) = static_cast<std::uint16_t>(level - 2 + pick(5));
  }
  // A bright region above 14 bits.
  const int br = pick(height), bc = pick(width);
  for (int r = br; r < std::min(height, br + 64); ++r)
    for (int c = bc; c < std::min(width, bc + 128); ++c)
      scene.frame.at(r, c) = static_cast<std::uint16_t>(16384 + pick(3000));
  // Impulses, nine times as many again as the realistic frame has (about 1.35 % more).
  for (std::size_t k = 0; k < pixels * 27 / 2000; ++k) {
    std::uint16_t& v = scene.frame[rng() % pixels];
    const int kind = pick(3);
    v = kind == 0 ? static_cast<std::uint16_t>(16384 + pick(49152)) : kind == 1 ? 0 : static_cast<std::uint16_t>(std::min(65535, v + 5000));
  }
  // Defective cells in clusters of 1 to 12, up to about 0.5 % of the frame, a quarter of them code 2.
  for (std::size_t marked = 0; marked < pixels / 200;) {
    const int r0 = pick(height), c0 = pick(width), h = 1 + pick(3), w = 1 + pick(4);
    const std::uint8_t code = pick(4) == 0 ? 2 : 1;
    for (int r = r0; r < std::min(height, r0 + h); ++r)
      for (int c = c0; c < std::min(width, c0 + w); ++c, ++marked) scene.map.cell(r, c) = code;
  }
  return scene;
}

Frame makeFlatFrame(int width, int height, unsigned seed) {
  Frame frame(width, height);
  std::mt19937 rng(seed);
  shade(frame, rng, 25.0, [&](double v, int c) {
    if (rng() % 3000 == 0) v = rng() % 2 ? 16383 : 0;
    if (c == width / 3) v *= 0.5;  // a weak column
    return v;
  });
  return frame;
}

}  // namespace n47test
