#include "common/allocation.h"

#include <cstdlib>

#include "common/test_seams.h"

namespace n47 {
namespace {

void* callocBytes(std::size_t bytes) { return std::calloc(1, bytes); }
void freeBytes(void* block) { std::free(block); }

RawAllocator g_rawAllocator{callocBytes, freeBytes};

}  // namespace

void* allocateZeroed(std::size_t bytes) { return g_rawAllocator.allocate(bytes); }

void releaseMemory(void* block) {
  if (block != nullptr) g_rawAllocator.release(block);
}

RawAllocator exchangeRawAllocator(RawAllocator allocator) {
  const RawAllocator previous = g_rawAllocator;
  g_rawAllocator = allocator.allocate != nullptr && allocator.release != nullptr ? allocator
                                                                                  : RawAllocator{callocBytes, freeBytes};
  return previous;
}

}  // namespace n47
