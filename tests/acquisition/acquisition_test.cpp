// The ready / acquire / stop state machine and the capture handshake, through the exports.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <vector>

#include "api/detector_instance.h"
#include "support/detector_fixture.h"
#include "correction/correction_pipeline.h"
#include "common/test_seams.h"
#include "n47sim/sim_control.h"
#include "support/sim_log.h"
#include "support/temp_dir.h"
#include "tavrin_n47.h"

namespace {

constexpr int W = 2048;
constexpr int H = 1536;
constexpr std::size_t kPixels = static_cast<std::size_t>(W) * H;

struct State {
  bool readyRequested;
  int readyTimerOn, runState, readyTimeCount, readyActive;
  bool operator==(const State&) const = default;
};

State stateOf(const n47::Detector& d) {
  return {d.readyRequested, d.readyTimerOn, d.runState, d.readyTimeCount, d.readyActive};
}

class Acquisition : public n47test::DetectorTest {
 protected:
  void SetUp() override {
    DetectorTest::SetUp();
    // Calibration mode and a zero frame keep each capture's correction cheap.
    CalibrationMode(1);
  }
  State state() const { return stateOf(*d_); }
};

TEST_F(Acquisition, UnknownCommandsAnswerZeroAndChangeNothing) {
  RunforDetector(1);
  const State before = state();
  for (int command : {0, 4, 7, -1, 100}) EXPECT_EQ(RunforDetector(command), 0) << command;
  EXPECT_EQ(state(), before);
}

TEST_F(Acquisition, ASecondReadyCommandIsRefusedButClearsTheCountAndTimer) {
  EXPECT_EQ(Ready_Time_Chk(), 1);
  EXPECT_EQ(RunforDetector(1), 1);
  EXPECT_EQ(Ready_Time_Chk(), 1);
  EXPECT_EQ(RunforDetector(1), 0);
  EXPECT_EQ(state(), (State{true, 0, 0, 0, 1})) << "still ready, count and timer cleared";
  EXPECT_EQ(RunforDetector(2), 1) << "a following acquire still captures";
  EXPECT_EQ(n47sim_frames_delivered(), 1u);
}

TEST_F(Acquisition, TheFifthTickEndsTheReadyStateAndAcquiresAreRefusedUntilTheNextReady) {
  ASSERT_EQ(RunforDetector(1), 1);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Ready_Time_Chk(), 1);
  EXPECT_EQ(Ready_Time_Chk(), 0);
  EXPECT_EQ(state(), (State{true, 0, 2, 0, 0}));
  n47sim_clear_log();
  EXPECT_EQ(RunforDetector(2), 0);
  EXPECT_EQ(RunforDetector(2), 0);
  EXPECT_EQ(n47sim_call_count(), 0u) << "no grabber call without a ready state";
  EXPECT_EQ(state(), (State{false, 0, 2, 0, 0}));
  EXPECT_EQ(RunforDetector(1), 1);
  EXPECT_EQ(RunforDetector(2), 1);
}

TEST_F(Acquisition, FiveTicksWithoutAReadyCommandExpireWithResultOne) {
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Ready_Time_Chk(), 1);
  EXPECT_EQ(d_->runState, 2);
  EXPECT_EQ(RunforDetector(1), 1);
  EXPECT_EQ(d_->runState, 0);
}

TEST_F(Acquisition, TheCountCarriesOverAStopWhenTheTimerWasOff) {
  for (int i = 0; i < 3; ++i) Ready_Time_Chk();
  EXPECT_EQ(RunforDetector(3), 1);
  EXPECT_EQ(d_->readyTimeCount, 3);
  EXPECT_EQ(RunforDetector(1), 1);
  EXPECT_EQ(Ready_Time_Chk(), 1);
  EXPECT_EQ(Ready_Time_Chk(), 0) << "the fifth tick since the count was zeroed";
}

TEST_F(Acquisition, AStopWhileTheTimerRunsZeroesTheCount) {
  RunforDetector(1);
  Ready_Time_Chk();
  Ready_Time_Chk();
  EXPECT_EQ(RunforDetector(3), 1);
  EXPECT_EQ(state(), (State{false, 0, 0, 0, 0}));
}

TEST_F(Acquisition, AStopInTheExpiredStateKeepsItExpired) {
  RunforDetector(1);
  for (int i = 0; i < 5; ++i) Ready_Time_Chk();
  EXPECT_EQ(RunforDetector(3), 1);
  EXPECT_EQ(state(), (State{false, 0, 2, 0, 0}));
}

TEST_F(Acquisition, AnAcquireWhileIdleCapturesNothingAndStaysIdle) {
  n47sim_clear_log();
  EXPECT_EQ(RunforDetector(2), 0);
  EXPECT_EQ(state(), (State{false, 0, 0, 0, 0}));
  EXPECT_EQ(n47sim_call_count(), 0u);
}

TEST_F(Acquisition, ASuccessfulAcquireLeavesTheDetectorIdle) {
  RunforDetector(1);
  Ready_Time_Chk();
  EXPECT_EQ(RunforDetector(2), 1);
  EXPECT_EQ(state(), (State{false, 0, 0, 0, 0}));
  EXPECT_EQ(RunforDetector(2), 0) << "a new ready command is needed";
}

TEST_F(Acquisition, TheCaptureStartsWaitsForFallAndRiseAndReadsOneFrameIntoImage) {
  RunforDetector(1);
  n47sim_clear_log();
  const int script[] = {1, 1, 1, 0, 0, 0, 0, 2};
  n47sim_script_check(script, 8);
  ASSERT_EQ(RunforDetector(2), 1);
  const auto calls = n47test::simCalls();
  std::vector<std::string> names;
  for (const auto& call : calls) names.emplace_back(n47sim_operation_name(call.operation));
  std::vector<std::string> expected = {"LVDS_Start"};
  for (int i = 0; i < 8; ++i) expected.emplace_back("LVDS_Check");
  expected.emplace_back("LVDS_GetFrame");
  EXPECT_EQ(names, expected);
  EXPECT_EQ(calls.back().argument, 6291456);
  EXPECT_EQ(calls.back().destination, GetImagePtr());
}

TEST_F(Acquisition, AStatusAlreadyLowIsCheckedAgainBeforeWaitingForTheRise) {
  RunforDetector(1);
  n47sim_clear_log();
  const int script[] = {0, 1};
  n47sim_script_check(script, 2);
  ASSERT_EQ(RunforDetector(2), 1);
  EXPECT_EQ(n47test::simCallsOf(N47SIM_LVDS_CHECK), 2);
}

TEST_F(Acquisition, LongHighAndLowPhasesAreWaitedOut) {
  RunforDetector(1);
  n47sim_clear_log();
  std::vector<int> script(150, 1);
  script.insert(script.end(), 150, 0);
  script.push_back(1);
  n47sim_script_check(script.data(), script.size());
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(RunforDetector(2), 1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(299)) << "1 ms between checks";
  EXPECT_EQ(n47test::simCallsOf(N47SIM_LVDS_CHECK), 301);
  EXPECT_EQ(n47sim_frames_delivered(), 1u);
}

class CaptureTimeout : public Acquisition {
 protected:
  void SetUp() override {
    Acquisition::SetUp();
    previous_ = n47::exchangeCaptureTimeout(std::chrono::milliseconds(50));
  }
  void TearDown() override {
    n47::exchangeCaptureTimeout(previous_);
    Acquisition::TearDown();
  }
  std::chrono::milliseconds previous_{};
};

TEST_F(CaptureTimeout, AGrabberThatNeverSignalsGivesUpWithoutTouchingTheImage) {
  for (int stuckAt : {1, 0}) {
    SCOPED_TRACE(stuckAt);
    std::fill(d_->image, d_->image + kPixels, 4321);
    n47sim_hold_check(1, stuckAt);
    RunforDetector(1);
    Ready_Time_Chk();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunforDetector(2), 0);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(50));
    EXPECT_LT(elapsed, std::chrono::seconds(5));
    EXPECT_EQ(n47sim_frames_delivered(), 0u);
    EXPECT_EQ(n47test::simCallsOf(N47SIM_LVDS_GET_FRAME), 0);
    EXPECT_EQ(state(), (State{false, 0, 0, 0, 0}));
    EXPECT_EQ(d_->image[0], 4321);
    EXPECT_EQ(d_->image[kPixels / 2 + 77], 4321) << "no correction ran on the old image";
  }
  EXPECT_EQ(previous_, std::chrono::milliseconds(10000)) << "the limit outside tests";
}

// An independent model of the transition table, driven with the exports side by side.
struct Model {
  bool requested = false;
  int timerOn = 0, run = 0, count = 0, active = 0;
  int captures = 0;

  int command(int c) {
    switch (c) {
      case 1:
        if (active == 1) { count = 0; timerOn = 0; return 0; }
        run = 0; active = 1; requested = true; timerOn = 1;
        return 1;
      case 2: {
        count = 0; timerOn = 0;
        if (run != 0) { active = 0; requested = false; return 0; }
        const int result = active == 1 && requested ? 1 : 0;
        captures += result;
        run = 0; active = 0; requested = false;
        return result;
      }
      case 3:
        if (timerOn) count = 0;
        timerOn = 0; active = 0; requested = false;
        return 1;
      default:
        return 0;
    }
  }
  int tick() {
    if (++count != 5) return 1;
    timerOn = 0; run = 2; count = 0;
    if (active == 1) { active = 0; return 0; }
    return 1;
  }
  State state() const { return {requested, timerOn, run, count, active}; }
};

TEST_F(Acquisition, LongRandomCommandSequencesFollowTheTransitionTable) {
  std::mt19937 rng(2024);
  Model model;
  n47sim_set_logging(0);
  const int commands[] = {1, 2, 3, 0, 7, -5, 1, 2};
  for (int step = 0; step < 800; ++step) {
    const int choice = static_cast<int>(rng() % 12);
    if (choice < 4) {
      ASSERT_EQ(Ready_Time_Chk(), model.tick()) << "step " << step;
    } else {
      const int c = commands[choice - 4];
      ASSERT_EQ(RunforDetector(c), model.command(c)) << "step " << step << " command " << c;
    }
    ASSERT_EQ(state(), model.state()) << "step " << step;
    ASSERT_EQ(n47sim_frames_delivered(), static_cast<std::size_t>(model.captures)) << "step " << step;
  }
  EXPECT_GT(model.captures, 10);
}

// The whole road: messages, ready, acquire with loaded maps, and the frame the application
// reads is the delivered frame put through the correction pipeline.
TEST_F(Acquisition, EndToEndTheApplicationReadsTheDeliveredFrameCorrected) {
  n47test::TempDir dir;
  std::mt19937 rng(7);
  for (int r = 0; r < d_->mapHeight; ++r)
    for (int c = 0; c < d_->mapWidth; ++c) d_->newPixelMap[r][c] = rng() % 500 == 0 ? static_cast<std::uint8_t>(1 + rng() % 2) : 0;
  d_->newPixelMap[300][W] = 1;
  d_->newPixelMap[H][400] = 1;
  std::uniform_real_distribution<float> gain(0.8f, 1.2f);
  for (int r = 0; r < H; ++r)
    for (int c = 0; c < W; ++c) d_->newGainMap[r][c] = gain(rng);
  ASSERT_EQ(SavePixelMap(dir.file("p.map").c_str()), 1);
  ASSERT_EQ(SaveGainMap(dir.file("g.map").c_str()), 1);
  ASSERT_EQ(LoadPixelMap(dir.file("p.map").c_str()), 1);
  ASSERT_EQ(LoadGainMap(dir.file("g.map").c_str()), 1);
  ASSERT_EQ(CalibrationMode(0), 0);

  const std::uint8_t message[64] = {'v', 'f', 30, 'g'};
  n47sim_push_message(message, 64);
  ASSERT_EQ(CheckSwitch(), 1);
  EXPECT_EQ(GetSwitchMsg(0), 1);
  EXPECT_EQ(GetSwitchMsg(1), 0);
  EXPECT_EQ(GetTemperature(), 25);

  std::vector<std::uint16_t> delivered(kPixels);
  std::uniform_int_distribution<int> level(900, 1100);
  for (auto& p : delivered) p = static_cast<std::uint16_t>(rng() % 1000 == 0 ? rng() % 65536 : level(rng));
  n47sim_set_frame(delivered.data(), delivered.size());
  ASSERT_EQ(RunforDetector(1), 1);
  ASSERT_EQ(Ready_Time_Chk(), 1);
  ASSERT_EQ(RunforDetector(2), 1);

  std::vector<std::uint16_t> expected = delivered;
  n47::correctFrame(n47::literalKernels(), expected.data(), W, H, d_->pixelMap, d_->gainMap, false);
  const unsigned short* image = GetImagePtr();
  ASSERT_EQ(std::vector<std::uint16_t>(image, image + kPixels), expected);
}

}  // namespace
