// Which vector instructions the kernels may use. The level is detected once, on the first
// question, and is never wider than the kernels this build has.
#ifndef N47_COMMON_INSTRUCTION_SET_H
#define N47_COMMON_INSTRUCTION_SET_H

namespace n47 {

// Ordered: each level includes the ones before it.
enum class InstructionSet {
  kPortable,  // plain C++, no x86 intrinsics (every non-x86 target, or a build without them)
  kSse2,      // the x86 baseline; every 32-bit Windows PC this library ships to has it
  kAvx2,
  kAvx512,    // AVX-512 F, BW, VL and DQ
};

// The widest level both this processor (and its operating system) and this build support.
InstructionSet detectedInstructionSet();

// What the kernels use now: the detected level, limited by the ceiling (see test_seams.h).
InstructionSet activeInstructionSet();

const char* instructionSetName(InstructionSet level);

}  // namespace n47

#endif
