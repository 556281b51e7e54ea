#include "common/instruction_set.h"

#include "common/kernel_config.h"

#if N47_HAVE_X86_KERNELS
#include "common/x86/cpu_features.h"
#endif

namespace n47 {
namespace {

InstructionSet detect() {
#if N47_HAVE_X86_KERNELS
  const x86::CpuFeatures features = x86::readCpuFeatures();
  if (features.avx512 && N47_HAVE_AVX512_KERNELS) return InstructionSet::kAvx512;
  if (features.avx2) return InstructionSet::kAvx2;
  return InstructionSet::kSse2;
#else
  return InstructionSet::kPortable;
#endif
}

}  // namespace

InstructionSet detectedInstructionSet() {
  static const InstructionSet detected = detect();
  return detected;
}

const char* instructionSetName(InstructionSet level) {
  switch (level) {
    case InstructionSet::kPortable:
      return "portable";
    case InstructionSet::kSse2:
      return "sse2";
    case InstructionSet::kAvx2:
      return "avx2";
    case InstructionSet::kAvx512:
      return "avx512";
  }
  return "unknown";
}

}  // namespace n47
