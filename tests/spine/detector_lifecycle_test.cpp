// Creating and destroying the detector: the grabber calls in order, the fresh state, and the
// one-object rule of the exports.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "api/detector_instance.h"
#include "n47sim/sim_control.h"
#include "support/sim_log.h"
#include "tavrin_n47.h"

namespace {

using n47test::simCallNames;
using Names = std::vector<std::string>;

class DetectorLifecycle : public ::testing::Test {
 protected:
  void SetUp() override { n47sim_reset(); }
  void TearDown() override {
    if (g_detector != nullptr) Sys_Free();
  }
};

TEST_F(DetectorLifecycle, OpensTheDeviceInOrderAndStartsTheImageChannelWhenItOpened) {
  for (int openResult : {1, 0, 5, -2}) {
    SCOPED_TRACE(openResult);
    n47sim_reset();
    n47sim_set_open_result(openResult);
    ASSERT_EQ(Sys_Allocation_N47(), 1);
    EXPECT_EQ(simCallNames(), (Names{"OpenDAQDevice", "LVDS_Init", "UART_Init", "LVDS_SetModel", "LVDS_Start"}));
    n47sim_call setModel{};
    ASSERT_EQ(n47sim_get_call(3, &setModel), 1);
    EXPECT_EQ(setModel.argument, 0);
    EXPECT_EQ(CheckInterface(), 1);
    ASSERT_EQ(Sys_Free(), 1);
  }
}

TEST_F(DetectorLifecycle, ADeviceThatFailsToOpenStillGetsItsChannelsInitialisedButNotStarted) {
  n47sim_set_open_result(-1);
  ASSERT_EQ(Sys_Allocation_N47(), 1);
  EXPECT_EQ(simCallNames(), (Names{"OpenDAQDevice", "LVDS_Init", "UART_Init", "LVDS_SetModel"}));
  EXPECT_EQ(CheckInterface(), 0);
  EXPECT_NE(GetImagePtr(), nullptr);
}

TEST_F(DetectorLifecycle, DestructionClosesTheChannelsThenTheDevice) {
  ASSERT_EQ(Sys_Allocation_N47(), 1);
  n47sim_clear_log();
  ASSERT_EQ(Sys_Free(), 1);
  EXPECT_EQ(simCallNames(), (Names{"LVDS_Close", "UART_Close", "CloseDAQDevice"}));
  EXPECT_EQ(g_detector, nullptr);
}

TEST_F(DetectorLifecycle, OnlyOneDetectorExistsAtATime) {
  EXPECT_EQ(Sys_Allocation_N47(), 1);
  n47sim_clear_log();
  EXPECT_EQ(Sys_Allocation_N47(), -1);
  EXPECT_EQ(n47sim_call_count(), 0u) << "the second allocation must open nothing";
  EXPECT_EQ(Sys_Free(), 1);
  EXPECT_EQ(Sys_Free(), -1);
}

TEST_F(DetectorLifecycle, AllocateAndFreeRepeatWithAFreshObjectEachTime) {
  for (int round = 0; round < 2; ++round) {
    n47sim_reset();
    ASSERT_EQ(Sys_Allocation_N47(), 1);
    EXPECT_EQ(n47test::simCallsOf(N47SIM_OPEN_DAQ_DEVICE), 1);
    CalibrationMode(1);
    ASSERT_EQ(Sys_Free(), 1);
  }
  ASSERT_EQ(Sys_Allocation_N47(), 1);
  EXPECT_EQ(g_detector->calibrationMode, 0);
}

TEST_F(DetectorLifecycle, AFreshObjectHasNeutralMapsAndZeroedBuffers) {
  ASSERT_EQ(Sys_Allocation_N47(), 1);
  const n47::Detector& d = *g_detector;
  EXPECT_EQ(d.width, 2048);
  EXPECT_EQ(d.height, 1536);
  EXPECT_EQ(d.mapWidth, 2049);
  EXPECT_EQ(d.mapHeight, 1537);
  EXPECT_EQ(d.temperature, 0);
  EXPECT_EQ(d.msgLength, 64);
  EXPECT_EQ(d.calibrationMode, 0);
  EXPECT_FALSE(d.readyRequested);
  EXPECT_EQ(d.readyTimerOn + d.runState + d.readyTimeCount + d.readyActive, 0);
  EXPECT_EQ(GetMsgLength(), 64);
  EXPECT_EQ(GetTemperature(), 0);

  std::set<const void*> rows;
  // Both maps of a kind start at their values, row by row.
  const auto expectMaps = [&](auto* const* active, auto* const* fresh, int count, int length, auto activeValue,
                              auto freshValue) {
    for (int r = 0; r < count; ++r) {
      for (int c = 0; c < length; ++c) {
        ASSERT_EQ(active[r][c], activeValue) << r << "," << c;
        ASSERT_EQ(fresh[r][c], freshValue) << r << "," << c;
      }
      rows.insert(active[r]);
      rows.insert(fresh[r]);
    }
  };
  expectMaps(d.pixelMap, d.newPixelMap, d.mapHeight, d.mapWidth, std::uint8_t{0}, std::uint8_t{0});
  expectMaps(d.gainMap, d.newGainMap, d.height, d.width, 1.0f, 0.0f);
  EXPECT_EQ(rows.size(), 2u * 1537u + 2u * 1536u) << "every map row is its own allocation";
  for (int i = 0; i < d.width * d.height; ++i) {
    ASSERT_EQ(d.image[i], 0);
    ASSERT_EQ(d.flatSum[i], 0u);
  }
  for (int i = 0; i < n47::Detector::kMsgBufferBytes; ++i) ASSERT_EQ(d.msgBuffer[i], 0);
}

TEST_F(DetectorLifecycle, SaveRawImageIsGetImagePtrAndTheAddressNeverMoves) {
  ASSERT_EQ(Sys_Allocation_N47(), 1);
  unsigned short* image = GetImagePtr();
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image, g_detector->image);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(SaveRawImage(), image);
    EXPECT_EQ(GetImagePtr(), image);
  }
}

TEST_F(DetectorLifecycle, ClearPixelMapZeroesCellsMarkersAndTheCorner) {
  ASSERT_EQ(Sys_Allocation_N47(), 1);
  n47::Detector& d = *g_detector;
  d.pixelMap[5][5] = 1;
  d.pixelMap[100][2048] = 1;
  d.pixelMap[1536][7] = 3;
  d.pixelMap[1536][2048] = 9;
  d.clearPixelMap();
  EXPECT_EQ(d.pixelMap[5][5], 0);
  EXPECT_EQ(d.pixelMap[100][2048], 0);
  EXPECT_EQ(d.pixelMap[1536][7], 0);
  EXPECT_EQ(d.pixelMap[1536][2048], 0);
}

TEST_F(DetectorLifecycle, CalibrationModeSwitchesOnlyOnZeroAndOne) {
  ASSERT_EQ(Sys_Allocation_N47(), 1);
  EXPECT_EQ(CalibrationMode(1), 1);
  EXPECT_EQ(g_detector->calibrationMode, 1);
  EXPECT_EQ(CalibrationMode(5), 5);
  EXPECT_EQ(CalibrationMode(-1), -1);
  EXPECT_EQ(g_detector->calibrationMode, 1);
  EXPECT_EQ(CalibrationMode(0), 0);
  EXPECT_EQ(g_detector->calibrationMode, 0);
}

}  // namespace
