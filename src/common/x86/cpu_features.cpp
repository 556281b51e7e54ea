#include "common/x86/cpu_features.h"

#include <cstdint>

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#else
#include <cpuid.h>
#endif

namespace n47::x86 {
namespace {

struct Registers {
  std::uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
};

Registers cpuid(std::uint32_t leaf, std::uint32_t subleaf) {
  Registers r;
#if defined(_MSC_VER) && !defined(__clang__)
  int out[4];
  __cpuidex(out, static_cast<int>(leaf), static_cast<int>(subleaf));
  r.eax = static_cast<std::uint32_t>(out[0]);
  r.ebx = static_cast<std::uint32_t>(out[1]);
  r.ecx = static_cast<std::uint32_t>(out[2]);
  r.edx = static_cast<std::uint32_t>(out[3]);
#else
  // __cpuid_count saves EBX itself where 32-bit position-independent code reserves it.
  __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
#endif
  return r;
}

// XCR0: which register states the operating system saves. Written as the instruction's bytes
// so that this file needs no -mxsave and assembles with old binutils too.
std::uint64_t readXcr0() {
#if defined(_MSC_VER) && !defined(__clang__)
  return _xgetbv(0);
#else
  std::uint32_t low = 0, high = 0;
  __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(low), "=d"(high) : "c"(0));
  return (static_cast<std::uint64_t>(high) << 32) | low;
#endif
}

bool bit(std::uint32_t value, int index) { return ((value >> index) & 1u) != 0; }

}  // namespace

CpuFeatures readCpuFeatures() {
  CpuFeatures features;
  const std::uint32_t maxLeaf = cpuid(0, 0).eax;
  if (maxLeaf < 7) return features;
  const Registers leaf1 = cpuid(1, 0);
  const bool osxsave = bit(leaf1.ecx, 27);
  const bool avx = bit(leaf1.ecx, 28);
  if (!osxsave || !avx) return features;
  const std::uint64_t xcr0 = readXcr0();
  const bool ymmSaved = (xcr0 & 0x6) == 0x6;      // SSE and AVX state
  const bool zmmSaved = (xcr0 & 0xe6) == 0xe6;    // plus opmask and both halves of ZMM
  const Registers leaf7 = cpuid(7, 0);
  features.avx2 = ymmSaved && bit(leaf7.ebx, 5);
  features.avx512 = features.avx2 && zmmSaved && bit(leaf7.ebx, 16) && bit(leaf7.ebx, 17) &&
                    bit(leaf7.ebx, 30) && bit(leaf7.ebx, 31);
  return features;
}

}  // namespace n47::x86
