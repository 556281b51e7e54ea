// Running out of memory while the detector is created: nothing is kept, nothing leaks, the
// device is closed again, and the failure is reported.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "api/detector_instance.h"
#include "common/test_seams.h"
#include "n47sim/sim_control.h"
#include "support/sim_log.h"
#include "tavrin_n47.h"

namespace {

// Fails the allocation numbered `failAt` (0 = the object itself) and tracks what is live.
struct FailingAllocator {
  static inline long failAt = -1;
  static inline long calls = 0;
  static inline std::set<void*> live;

  static void* allocate(std::size_t bytes) {
    if (calls++ == failAt) return nullptr;
    void* block = std::calloc(1, bytes);
    live.insert(block);
    return block;
  }
  static void release(void* block) {
    live.erase(block);
    std::free(block);
  }
};

class AllocationFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    n47sim_reset();
    FailingAllocator::calls = 0;
    FailingAllocator::failAt = -1;
    FailingAllocator::live.clear();
    previous_ = n47::exchangeRawAllocator({FailingAllocator::allocate, FailingAllocator::release});
  }
  void TearDown() override {
    if (g_detector != nullptr) Sys_Free();
    n47::exchangeRawAllocator(previous_);
  }
  n47::RawAllocator previous_{};
};

long allocationsOfOneDetector() {
  FailingAllocator::calls = 0;
  EXPECT_EQ(Sys_Allocation_N47(), 1);
  const long count = FailingAllocator::calls;
  EXPECT_EQ(Sys_Free(), 1);
  EXPECT_TRUE(FailingAllocator::live.empty()) << "a freed detector leaves nothing behind";
  return count;
}

TEST_F(AllocationFailure, EveryAllocationIsReleasedByFree) {
  // object + 2 x (1536 + 1 gain rows) + 2 x (1537 + 1 pixel-map rows) + image, flatSum, msgBuffer
  EXPECT_EQ(allocationsOfOneDetector(), 1 + 2 * 1537 + 2 * 1538 + 3);
}

TEST_F(AllocationFailure, FailingAtAnyBufferKeepsNothingAndClosesTheDevice) {
  const long total = allocationsOfOneDetector();
  // The first and last allocation of every buffer and of every map's rows, and a few between.
  const long newGainMap = 1, newPixelMap = newGainMap + 1537, image = newPixelMap + 1538, flatSum = image + 1,
             gainMap = flatSum + 1, pixelMap = gainMap + 1537, msgBuffer = pixelMap + 1538;
  const std::vector<long> failures = {newGainMap,  newGainMap + 1, newGainMap + 1536, newPixelMap, newPixelMap + 700,
                                      newPixelMap + 1537, image, flatSum, gainMap, gainMap + 1536, pixelMap,
                                      pixelMap + 1537, msgBuffer};
  ASSERT_EQ(msgBuffer, total - 1);
  for (long failAt : failures) {
    SCOPED_TRACE(failAt);
    n47sim_reset();
    FailingAllocator::calls = 0;
    FailingAllocator::failAt = failAt;
    EXPECT_EQ(Sys_Allocation_N47(), 0);
    EXPECT_EQ(g_detector, nullptr);
    EXPECT_TRUE(FailingAllocator::live.empty()) << FailingAllocator::live.size() << " blocks leaked";
    EXPECT_EQ(n47test::simCallNames(),
              (std::vector<std::string>{"OpenDAQDevice", "LVDS_Init", "UART_Init", "LVDS_SetModel", "LVDS_Start",
                                        "LVDS_Close", "UART_Close", "CloseDAQDevice"}));
    EXPECT_EQ(GetImagePtr(), nullptr);
    EXPECT_EQ(Sys_Free(), -1);
  }
}

TEST_F(AllocationFailure, NoStorageForTheObjectTouchesNoDevice) {
  FailingAllocator::failAt = 0;
  EXPECT_EQ(Sys_Allocation_N47(), 0);
  EXPECT_EQ(g_detector, nullptr);
  EXPECT_EQ(n47sim_call_count(), 0u);
}

TEST_F(AllocationFailure, ALaterAllocationSucceedsOnceMemoryIsBack) {
  FailingAllocator::failAt = 10;
  EXPECT_EQ(Sys_Allocation_N47(), 0);
  FailingAllocator::failAt = -1;
  EXPECT_EQ(Sys_Allocation_N47(), 1);
  EXPECT_NE(GetImagePtr(), nullptr);
}

}  // namespace
