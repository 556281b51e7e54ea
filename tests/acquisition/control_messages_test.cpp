// Control messages through the exports: switch codes, temperature frames, the draining of
// Init_Comm, and the departures for out-of-range indices and incomplete frames.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "api/detector_instance.h"
#include "support/detector_fixture.h"
#include "n47sim/sim_control.h"
#include "support/sim_log.h"
#include "tavrin_n47.h"

namespace {

using Message = std::vector<std::uint8_t>;

class ControlMessages : public n47test::DetectorTest {
 protected:
  void SetUp() override {
    DetectorTest::SetUp();
    n47sim_clear_log();
  }

  // Sends one message and reads it with CheckSwitch.
  static void receive(std::initializer_list<std::pair<int, std::uint8_t>> bytes) {
    Message message(64, 0);
    for (auto [index, value] : bytes) message[index] = value;
    n47sim_push_message(message.data(), message.size());
    ASSERT_EQ(CheckSwitch(), 1);
  }
};

TEST_F(ControlMessages, SwitchBytesDecodeToTheirCodes) {
  receive({{0, 'v'}, {5, 'u'}, {9, 's'}, {10, 'x'}});
  EXPECT_EQ(GetSwitchMsg(0), 1);
  EXPECT_EQ(GetSwitchMsg(5), 3);
  EXPECT_EQ(GetSwitchMsg(9), 2);
  EXPECT_EQ(GetSwitchMsg(10), 0);
  EXPECT_EQ(GetSwitchMsg(1), 0);
  EXPECT_EQ(GetTemperature(), 0) << "no temperature frame decoded yet";
}

TEST_F(ControlMessages, ATemperatureFrameSetsTheTemperatureAtItsStartByteOnly) {
  receive({{10, 'f'}, {11, 0x1E}, {12, 'g'}});
  EXPECT_EQ(GetSwitchMsg(11), 0);
  EXPECT_EQ(GetSwitchMsg(12), 0);
  EXPECT_EQ(GetTemperature(), 0);
  EXPECT_EQ(GetSwitchMsg(10), 0);
  EXPECT_EQ(GetTemperature(), 25);
}

TEST_F(ControlMessages, TheScanHasNoFramingSoAValueByteDecodesAtItsOwnIndexToo) {
  receive({{10, 'f'}, {11, 'v'}, {12, 'g'}});
  EXPECT_EQ(GetSwitchMsg(10), 0);
  EXPECT_EQ(GetTemperature(), 113);
  EXPECT_EQ(GetSwitchMsg(11), 1);
}

TEST_F(ControlMessages, ValueBytesAreSignedEightBitLessFive) {
  const std::pair<std::uint8_t, int> cases[] = {{0x80, -133}, {0x7F, 122}, {0x00, -5}, {0xFF, -6}, {0x04, -1}};
  for (auto [value, temperature] : cases) {
    SCOPED_TRACE(int(value));
    receive({{20, 'f'}, {21, value}, {22, 'g'}});
    GetSwitchMsg(20);
    EXPECT_EQ(GetTemperature(), temperature);
  }
}

TEST_F(ControlMessages, InitCommLeavesTheLastFrameOfTheLastMessageThatHadOne) {
  Message twoFrames(64, 0);
  twoFrames[3] = 'f', twoFrames[4] = 30, twoFrames[5] = 'g';
  twoFrames[40] = 'f', twoFrames[41] = 45, twoFrames[42] = 'g';
  Message oneFrame(64, 0);
  oneFrame[60] = 'f', oneFrame[61] = 10, oneFrame[62] = 'g';
  n47sim_push_message(oneFrame.data(), 64);
  n47sim_push_message(twoFrames.data(), 64);
  ASSERT_EQ(Init_Comm(), 1);
  EXPECT_EQ(GetTemperature(), 40);
  EXPECT_EQ(n47sim_pending_messages(), 0u);
}

TEST_F(ControlMessages, InitCommMakesExactly100ReadsOfALength64IntoACleanBufferSleepingBeforeEach) {
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Init_Comm(), 1);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const auto calls = n47test::simCalls();
  ASSERT_EQ(calls.size(), 100u);
  for (const n47sim_call& call : calls) {
    EXPECT_EQ(call.operation, N47SIM_UART_GET_DATA);
    EXPECT_EQ(call.argument, 64);
    EXPECT_EQ(call.destination, g_detector->msgBuffer);
    EXPECT_EQ(call.destination_zeroed, 1);
  }
  EXPECT_GE(elapsed, std::chrono::milliseconds(100)) << "a 1 ms sleep precedes every read";
}

TEST_F(ControlMessages, CheckSwitchClearsThePreviousMessage) {
  receive({{0, 'v'}, {1, 'u'}});
  ASSERT_EQ(CheckSwitch(), 1);  // nothing arrives
  for (int i = 0; i < 64; ++i) EXPECT_EQ(GetSwitchMsg(i), 0) << i;
  const n47sim_call last = n47test::simCalls().back();
  EXPECT_EQ(last.destination_zeroed, 1);
  EXPECT_EQ(last.argument, 64);
}

TEST_F(ControlMessages, IndicesOutsideTheMessageAnswerZeroAndReadNothing) {
  receive({{0, 'v'}});
  g_detector->msgBuffer[64] = 's';  // past the message: never reachable through the export
  for (int index : {-1, 64, 65, 97, 1023, 1024, 100000, -2147483647 - 1, 2147483647}) {
    EXPECT_EQ(GetSwitchMsg(index), 0) << index;
  }
  EXPECT_EQ(GetTemperature(), 0);
}

TEST_F(ControlMessages, AnIncompleteTemperatureFrameDecodesToNothingAndKeepsTheTemperature) {
  receive({{1, 'f'}, {2, 50}, {3, 'x'}, {10, 'f'}, {11, 40}, {12, 'g'}});
  GetSwitchMsg(10);
  ASSERT_EQ(GetTemperature(), 35);
  EXPECT_EQ(GetSwitchMsg(1), 0) << "not reported as switch code 1";
  EXPECT_EQ(GetTemperature(), 35);
  receive({{2, 'f'}, {3, 9}, {4, 'f'}});
  EXPECT_EQ(GetSwitchMsg(2), 0);
  EXPECT_EQ(GetSwitchMsg(3), 0);
  EXPECT_EQ(GetTemperature(), 35);
}

TEST_F(ControlMessages, AFrameStartingAt62Or63IsAlwaysIncomplete) {
  receive({{62, 'f'}, {63, 20}});
  EXPECT_EQ(GetSwitchMsg(62), 0);
  EXPECT_EQ(GetSwitchMsg(63), 0);
  EXPECT_EQ(GetTemperature(), 0);
  receive({{63, 'f'}});
  EXPECT_EQ(GetSwitchMsg(63), 0);
  EXPECT_EQ(GetTemperature(), 0);
}

TEST_F(ControlMessages, MessageLengthIs64) { EXPECT_EQ(GetMsgLength(), 64); }

}  // namespace
