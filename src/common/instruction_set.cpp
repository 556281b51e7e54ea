#include "common/instruction_set.h"

#include "common/x86/cpu_features.h"

namespace n47 {
namespace {

InstructionSet g_ceiling = InstructionSet::kAvx512;

InstructionSet detect() {
#if N47_X86
  const x86::CpuFeatures features = x86::readCpuFeatures();
  if (features.avx512) return InstructionSet::kAvx512;
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

InstructionSet activeInstructionSet() {
  const InstructionSet detected = detectedInstructionSet();
  return g_ceiling < detected ? g_ceiling : detected;
}

void setInstructionSetCeiling(InstructionSet ceiling) { g_ceiling = ceiling; }

const char* instructionSetName(InstructionSet level) {
  switch (level) {
    case InstructionSet::kLiteral:
      return "literal";
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
