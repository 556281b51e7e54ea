// x86 processor features that decide which kernels may run: what CPUID reports, checked
// against what the operating system saves on a context switch (XGETBV), since a processor with
// AVX under a system that does not save the wide registers must not use them.
#ifndef N47_COMMON_X86_CPU_FEATURES_H
#define N47_COMMON_X86_CPU_FEATURES_H

// Built only where CMake builds the x86 kernels (common/kernel_config.h).
namespace n47::x86 {

struct CpuFeatures {
  bool avx2 = false;
  bool avx512 = false;  // F, BW, VL and DQ together
};

CpuFeatures readCpuFeatures();

}  // namespace n47::x86

#endif
