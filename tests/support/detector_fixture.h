// A fresh simulator and a freshly created detector for every test; d_ reaches its state.
#ifndef N47_TESTS_SUPPORT_DETECTOR_FIXTURE_H
#define N47_TESTS_SUPPORT_DETECTOR_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "api/detector_instance.h"
#include "n47sim/sim_control.h"
#include "tavrin_n47.h"

namespace n47test {

class DetectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    n47sim_reset();
    ASSERT_EQ(Sys_Allocation_N47(), 1);
    d_ = g_detector;
  }
  void TearDown() override { Sys_Free(); }
  // Random bytes in every cell of the new pixel map, markers and corner included; returns the
  // generator, for whatever else the test fills.
  std::mt19937 randomNewPixelMap(unsigned seed) {
    std::mt19937 rng(seed);
    for (int r = 0; r < d_->mapHeight; ++r)
      for (int c = 0; c < d_->mapWidth; ++c) d_->newPixelMap[r][c] = static_cast<std::uint8_t>(rng());
    return rng;
  }
  n47::Detector* d_ = nullptr;
};

}  // namespace n47test

#endif
