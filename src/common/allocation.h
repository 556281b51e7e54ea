// Every buffer of the library comes from here, so that running out of memory is one code
// path that tests can reach (exchangeRawAllocator in common/test_seams.h) without touching the
// process's allocator.
#ifndef N47_COMMON_ALLOCATION_H
#define N47_COMMON_ALLOCATION_H

#include <cstddef>

namespace n47 {

// Zero-filled storage of `bytes` bytes, or null when none can be had.
void* allocateZeroed(std::size_t bytes);
// Releases storage from allocateZeroed; null is ignored.
void releaseMemory(void* block);

}  // namespace n47

#endif
