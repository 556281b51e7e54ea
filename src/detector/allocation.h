// Every buffer of the library comes from here, so that running out of memory is one code
// path that tests can reach (the seam below) without touching the process's allocator.
#ifndef N47_DETECTOR_ALLOCATION_H
#define N47_DETECTOR_ALLOCATION_H

#include <cstddef>

namespace n47 {

// Zero-filled storage of `bytes` bytes, or null when none can be had.
void* allocateZeroed(std::size_t bytes);
// Releases storage from allocateZeroed; null is ignored.
void releaseMemory(void* block);

// Test seam: replaces the raw allocator pair and returns the previous one. `allocate` must
// return zero-filled storage or null. Not reachable through the exports.
struct RawAllocator {
  void* (*allocate)(std::size_t bytes);
  void (*release)(void* block);
};
RawAllocator exchangeRawAllocator(RawAllocator allocator);

}  // namespace n47

#endif
