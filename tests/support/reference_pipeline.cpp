#include "support/reference_pipeline.h"

#include <algorithm>
#include <cmath>

namespace n47test {
namespace {

struct Image {
  Frame& px;
  int w, h;
  std::uint16_t& operator()(int r, int c) { return px.at(r, c); }
};

std::uint16_t storeClamped(double v) {
  if (std::isnan(v)) return 0;
  return static_cast<std::uint16_t>(std::clamp(v, 0.0, 16383.0));
}

// The integer form of the impulse rule: m = (S - 1) / 25, band m - k - 1 .. m + k, k = 2D / 5.
void impulse(Image im) {
  for (int r = 4; r + 4 < im.h; ++r) {
    for (int c = 4; c + 4 < im.w; ++c) {
      long s = 0;
      for (int i = 0; i < 25; ++i) s += im(r + i / 5, c + i % 5);
      const long m = s == 0 ? 0 : (s - 1) / 25;
      long d = 0;
      for (int i = 0; i < 25; ++i) d += std::labs(im(r + i / 5, c + i % 5) - m);
      const long k = (2 * d) / 5;
      const long lo = m - k - 1, hi = m + k;
      const long p = im(r + 2, c + 2);
      if (p >= lo && p <= hi) continue;
      long n = 0, t = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          if (dy == 0 && dx == 0) continue;
          const long v = im(r + 2 + dy, c + 2 + dx);
          if (v >= lo && v <= hi) ++n, t += v;
        }
      if (n >= 7) im(r + 2, c + 2) = static_cast<std::uint16_t>(std::min(t / n, 16383L));
    }
  }
}

void code2(Image im, const PixelMap& maps) {
  for (int y = 2; y < im.h; ++y)
    for (int x = 2; x < im.w; ++x) {
      if (maps.cell(y, x) != 2) continue;
      long s = -im(y, x);
      for (int dy = -2; dy <= 0; ++dy)
        for (int dx = -2; dx <= 0; ++dx) s += im(y + dy, x + dx);
      im(y, x) = static_cast<std::uint16_t>(s / 8);
    }
}

void defectPixels(Image im, const PixelMap& maps) {
  for (int y = 1; y + 1 < im.h; ++y)
    for (int x = 1; x + 1 < im.w; ++x) {
      if (maps.cell(y, x) == 0) continue;
      long n = 0, t = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          if (maps.cell(y + dy, x + dx) == 0) ++n, t += im(y + dy, x + dx);
      im(y, x) = static_cast<std::uint16_t>(std::min(n > 0 ? t / n : static_cast<long>(im(y, x)), 16383L));
    }
}

void gain(Image im, const GainMap& gains) {
  for (int y = 0; y < im.h; ++y)
    for (int x = 0; x < im.w; ++x) {
      const double g = gains.cells[y][x];
      im(y, x) = storeClamped((static_cast<double>(im(y, x)) - 100.0) * g + 100.0);
    }
}

// One line; at(a, i) is sample i (offset i - 3) across the line at position a.
template <typename At>
void repairOneLine(int length, At at) {
  std::uint16_t win[3][7] = {};
  for (int a0 = 0; a0 + 1 < length; a0 += 2) {
    for (int l = 0; l < 3; ++l)
      if (a0 + l < length)
        for (int i = 0; i < 7; ++i) win[l][i] = at(a0 + l, i);
    double p[7];
    for (int i = 0; i < 7; ++i) p[i] = (0 + win[0][i] + win[1][i] + win[2][i]) * 0.3333333333333333;
    const double b = (((0 + p[0]) + p[1]) + p[5] + p[6]) * 0.25;
    const double k = (((0.0 + -3 * p[0]) + -2 * p[1]) + 2 * p[5] + 3 * p[6]) / 26;
    double ratio[3];
    for (int j = 0; j < 3; ++j) {
      const double fit = (j - 1) * k + b;
      ratio[j] = fit == 0.0 ? p[2 + j] * 10.0 : p[2 + j] / fit;
    }
    for (int a = a0; a <= a0 + 1; ++a)
      for (int j = 0; j < 3; ++j) at(a, 2 + j) = storeClamped(at(a, 2 + j) / ratio[j]);
  }
  for (int a = 0; a < length; ++a) at(a, 3) = static_cast<std::uint16_t>(std::min((at(a, 2) + at(a, 4)) / 2, 16383));
}

void lines(Image im, const PixelMap& maps) {
  for (int y = 10; y <= im.h - 11; ++y)
    if (maps.cell(y, im.w) != 0) repairOneLine(im.w, [&](int a, int i) -> std::uint16_t& { return im(y + 3 - i, a); });
  for (int x = 0; x < im.w; ++x) {
    if (maps.cell(im.h, x) == 0) continue;
    if (x >= 10 && x <= im.w - 11) {
      repairOneLine(im.h, [&](int a, int i) -> std::uint16_t& { return im(a, x - 3 + i); });
    } else if (x <= 2 || x >= im.w - 3) {
      const int from = x == 0 ? 1 : x - 1;
      if (from >= im.w) continue;  // a one-column frame has nothing to copy from
      for (int r = 0; r < im.h; ++r) im(r, x) = im(r, from);
    }
  }
}

void border(Image im) {
  for (int r = 0; r < im.h; ++r)
    for (int c = 0; c < im.w; ++c)
      if (r < 20 || r >= im.h - 20 || c < 20 || c >= im.w - 20) im(r, c) = 16383;
}

}  // namespace

void referenceCorrect(Frame& frame, const PixelMap& maps, const GainMap& gains, bool calibrationMode) {
  Image im{frame, frame.width, frame.height};
  impulse(im);
  code2(im, maps);
  if (!calibrationMode) gain(im, gains);
  defectPixels(im, maps);
  lines(im, maps);
  impulse(im);
  if (!calibrationMode) border(im);
}

}  // namespace n47test
