// Asking for the next row of an image before it is needed. A row of the detector's frame is a
// 4 KB page (a gain-map row two), and the processors' stream prefetchers stop at page
// boundaries, so each new row would otherwise start with a wait for memory.
#ifndef N47_COMMON_PREFETCH_H
#define N47_COMMON_PREFETCH_H

#include <cstddef>

namespace n47 {
// Internal linkage: the kernels of every instruction set include this, and the linker must not
// merge their copies into one built for the widest set.
namespace {

inline void prefetchBytes(const void* start, std::size_t bytes) {
#if defined(__GNUC__)
  const char* p = static_cast<const char*>(start);
  for (std::size_t offset = 0; offset < bytes; offset += 64) __builtin_prefetch(p + offset);
#else
  (void)start;
  (void)bytes;
#endif
}

}  // namespace
}  // namespace n47

#endif
