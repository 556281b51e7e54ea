// The test seams: what tests and benchmarks may change in a running library to reach paths a
// normal run cannot (memory running out, a device that never answers, long runs without waits,
// the narrower kernels on a machine with wider ones). Not reachable through the exports; none
// is thread-safe, and each is meant to be set between operations.
#ifndef N47_COMMON_TEST_SEAMS_H
#define N47_COMMON_TEST_SEAMS_H

#include <chrono>
#include <cstddef>

#include "common/instruction_set.h"

namespace n47 {

struct Kernels;

// Replaces the raw allocator pair behind allocateZeroed and returns the previous one.
// `allocate` must return zero-filled storage or null; a pair with a null member restores the
// real allocator.
struct RawAllocator {
  void* (*allocate)(std::size_t bytes);
  void (*release)(void* block);
};
RawAllocator exchangeRawAllocator(RawAllocator allocator);

// Sets how long the capture handshake waits before the acquire command gives up; returns the
// previous limit.
std::chrono::milliseconds exchangeCaptureTimeout(std::chrono::milliseconds limit);

// Makes sleepOneMillisecond call `sleeper` instead (null: the real sleep); returns the previous
// one. Long runs against a simulator use it to skip the waits.
using SleepFunction = void (*)();
SleepFunction exchangeSleepFunction(SleepFunction sleeper);

// Limits the kernels to at most `ceiling` (kAvx512 lifts the limit); the kernel table is chosen
// again at once.
void setInstructionSetCeiling(InstructionSet ceiling);

// Makes the detector's operations use `table` whatever the ceiling (null: the table the ceiling
// selects); returns the previous one. Benchmarks time the literal stages through the exports
// with literalKernels().
const Kernels* exchangeHeldKernels(const Kernels* table);

}  // namespace n47

#endif
