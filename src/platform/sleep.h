#ifndef N47_PLATFORM_SLEEP_H
#define N47_PLATFORM_SLEEP_H

namespace n47 {

// Blocks the calling thread for one millisecond (Sleep(1) on Windows).
void sleepOneMillisecond();

// (exchangeSleepFunction in common/test_seams.h replaces it in tests.)

}  // namespace n47

#endif
