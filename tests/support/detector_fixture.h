// A fresh simulator and a freshly created detector for every test; d_ reaches its state.
#ifndef N47_TESTS_SUPPORT_DETECTOR_FIXTURE_H
#define N47_TESTS_SUPPORT_DETECTOR_FIXTURE_H

#include <gtest/gtest.h>

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
  n47::Detector* d_ = nullptr;
};

}  // namespace n47test

#endif
