// An application that defines the 11 grabber functions itself must receive every grabber
// call the loaded driver makes: the driver imports them dynamically and never binds to the
// simulator directly.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tavrin_n47.h"

namespace {
std::vector<std::string> g_calls;
}  // namespace

extern "C" {
int OpenDAQDevice(void) { g_calls.emplace_back("OpenDAQDevice"); return 0; }
int CloseDAQDevice(void) { g_calls.emplace_back("CloseDAQDevice"); return 0; }
int LVDS_Init(void) { g_calls.emplace_back("LVDS_Init"); return 0; }
int LVDS_SetModel(int32_t) { g_calls.emplace_back("LVDS_SetModel"); return 0; }
int LVDS_Start(void) { g_calls.emplace_back("LVDS_Start"); return 0; }
int LVDS_Check(void) {
  // Falls once, then rises: one frame ready.
  static int calls = 0;
  g_calls.emplace_back("LVDS_Check");
  return calls++ % 2;
}
int LVDS_GetFrame(int32_t* count, uint16_t* destination) {
  g_calls.emplace_back("LVDS_GetFrame");
  for (int32_t i = 0; i < *count / 2; ++i) destination[i] = 1000;
  return 0;
}
int LVDS_Close(void) { g_calls.emplace_back("LVDS_Close"); return 0; }
int UART_Init(void) { g_calls.emplace_back("UART_Init"); return 0; }
int UART_GetData(int32_t*, uint8_t* destination) {
  g_calls.emplace_back("UART_GetData");
  destination[0] = 'v';
  return 0;
}
int UART_Close(void) { g_calls.emplace_back("UART_Close"); return 0; }
}

TEST(InterposedGrabber, EveryGrabberCallReachesTheApplicationsOwnFunctions) {
  ASSERT_EQ(Sys_Allocation_N47(), 1);
  EXPECT_EQ(CheckInterface(), 1);
  EXPECT_EQ(CheckSwitch(), 1);
  EXPECT_EQ(GetSwitchMsg(0), 1);
  EXPECT_EQ(RunforDetector(1), 1);
  EXPECT_EQ(RunforDetector(2), 1);
  EXPECT_EQ(GetImagePtr()[1000 * 2048 + 1000], 1000);
  EXPECT_EQ(Sys_Free(), 1);
  const std::vector<std::string> expected = {
      "OpenDAQDevice", "LVDS_Init",  "UART_Init",  "LVDS_SetModel", "LVDS_Start",    "UART_GetData",
      "LVDS_Start",    "LVDS_Check", "LVDS_Check", "LVDS_GetFrame", "LVDS_Close",    "UART_Close",
      "CloseDAQDevice"};
  EXPECT_EQ(g_calls, expected);
}
