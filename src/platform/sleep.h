#ifndef N47_PLATFORM_SLEEP_H
#define N47_PLATFORM_SLEEP_H

namespace n47 {

// Blocks the calling thread for one millisecond (Sleep(1) on Windows).
void sleepOneMillisecond();

// Test seam: makes sleepOneMillisecond call `sleeper` instead (null: the real sleep) and
// returns the previous one. Long runs against a simulator use it to skip the waits. Not
// reachable through the exports.
using SleepFunction = void (*)();
SleepFunction exchangeSleepFunction(SleepFunction sleeper);

}  // namespace n47

#endif
