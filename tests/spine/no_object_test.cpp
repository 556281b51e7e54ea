// Every export answers its fixed value while no detector exists, and does nothing else.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "n47sim/sim_control.h"
#include "support/temp_dir.h"
#include "tavrin_n47.h"

namespace {

void expectNoObjectValues(const n47test::TempDir& dir) {
  const std::string saved = dir.file("saved.map");
  const std::string missing = dir.file("missing.map");
  std::vector<unsigned short> frame(N47_FRAME_WIDTH * N47_FRAME_HEIGHT, 1234);

  EXPECT_EQ(Sys_Free(), -1);
  EXPECT_EQ(CheckSwitch(), -1);
  EXPECT_EQ(Ready_Time_Chk(), 0);
  EXPECT_EQ(RunforDetector(1), 1);
  EXPECT_EQ(RunforDetector(2), 2);
  EXPECT_EQ(RunforDetector(7), 7);
  EXPECT_EQ(RunforDetector(-3), -3);
  EXPECT_EQ(LoadPixelMap(missing.c_str()), 0);
  EXPECT_EQ(LoadGainMap(missing.c_str()), 0);
  EXPECT_EQ(SaveRawImage(), nullptr);
  EXPECT_EQ(CheckInterface(), -1);
  EXPECT_EQ(GetTemperature(), -1);
  EXPECT_EQ(GetSwitchMsg(0), 0);
  EXPECT_EQ(Init_Comm(), -1);
  EXPECT_EQ(GetMsgLength(), -1);
  EXPECT_EQ(SavePixelMap(saved.c_str()), -1);
  EXPECT_EQ(SaveGainMap(saved.c_str()), -1);
  EXPECT_EQ(Map_Calibration(frame.data(), 0, 1), -1);
  EXPECT_EQ(GetImagePtr(), nullptr);
  EXPECT_EQ(CalibrationMode(1), -1);
  EXPECT_EQ(CalibrationMode(0), -1);

  EXPECT_EQ(n47sim_call_count(), 0u) << "no export may reach the grabber without a detector";
  EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "no export may create a file without a detector";
  EXPECT_EQ(frame[0], 1234) << "Map_Calibration must not touch the frame";
}

TEST(NoDetector, EveryExportAnswersItsFixedValueBeforeAllocation) {
  n47sim_reset();
  n47test::TempDir dir;
  expectNoObjectValues(dir);
}

TEST(NoDetector, EveryExportAnswersItsFixedValueAfterFree) {
  n47sim_reset();
  ASSERT_EQ(Sys_Allocation_N47(), 1);
  ASSERT_EQ(Sys_Free(), 1);
  n47sim_reset();
  n47test::TempDir dir;
  expectNoObjectValues(dir);
}

}  // namespace
