// The panel behind the test grabber (libn47_test_grabber.so): a USB_FRM01 library of our own
// that exports only the eleven grabber operations, as a vendor's does, so the tools and the
// Python package are tried on the road a real detector takes. Tests read what it planted here.
//
// Every frame is a flat exposure: the dark level plus the signal times a smooth gain pattern,
// plain uniform noise (fresh in each frame, the same sequence after each OpenDAQDevice), and
// clusters of dead and hot pixels. Isolated defects would not do: in calibration mode the
// impulse filter replaces a lone outlier before calibration sees it, whereas a cluster of two
// by two or more survives and must be marked.
//
// Control messages carry a temperature frame ("f", value, "g") in bytes 10 to 12 and now and
// then the switch bytes "v", "s", "u" in bytes 0 to 2.
//
// Environment, read at OpenDAQDevice:
//   N47_TEST_GRABBER_OPEN      what OpenDAQDevice returns (default 0; -1: the device did not open)
//   N47_TEST_GRABBER_FRAME_MS  the frame period: LVDS_Check rises this long after LVDS_Start
//                              (default 0, as fast as the handshake goes)
#ifndef N47_TESTS_GRABBER_TEST_GRABBER_PANEL_H
#define N47_TESTS_GRABBER_TEST_GRABBER_PANEL_H

#include <cmath>
#include <cstdint>

namespace n47testgrabber {

constexpr int kWidth = 2048;
constexpr int kHeight = 1536;
constexpr int kDarkLevel = 100;
constexpr int kSignal = 6000;      // counts above the dark level at unit gain
constexpr int kNoise = 12;         // each pixel's noise is uniform in -kNoise .. kNoise
constexpr int kTemperature = 31;   // degrees, in every message

// A checker of slow waves with a tilt, 0.84 to 1.16: far beyond the noise, and smooth enough
// that no pixel of it lies three standard deviations from the frame's mean.
inline double plantedGain(int row, int column) {
  constexpr double kPi = 3.14159265358979323846;
  return 1.0 + 0.12 * std::sin(2.0 * kPi * column / 1024.0) * std::sin(2.0 * kPi * row / 768.0) +
         0.08 * (column / double(kWidth - 1) - 0.5);
}

struct Cluster {
  int row, column, height, width;
  std::uint16_t value;  // 0: dead, 16383: hot
};

// Inside the 16-pixel margin that calibration leaves out, and apart from each other.
constexpr Cluster kClusters[] = {
    {100, 200, 2, 2, 0},       {150, 1500, 2, 2, 16383}, {400, 800, 3, 3, 0},   {600, 1900, 2, 3, 16383},
    {777, 1024, 3, 2, 16383},  {900, 333, 2, 2, 0},      {1100, 1200, 3, 3, 16383}, {1300, 60, 2, 2, 16383},
    {1450, 1700, 2, 2, 0},     {1234, 1600, 2, 3, 0},
};

inline bool inCluster(int row, int column) {
  for (const Cluster& cluster : kClusters) {
    if (row >= cluster.row && row < cluster.row + cluster.height && column >= cluster.column &&
        column < cluster.column + cluster.width) {
      return true;
    }
  }
  return false;
}

}  // namespace n47testgrabber

#endif
