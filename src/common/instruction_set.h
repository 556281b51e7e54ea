// Which vector instructions the fast kernels may use. The level is detected once, on the first
// question; tests and benchmarks can hold it lower to exercise (or time) the narrower paths on a
// machine that has wider ones.
#ifndef N47_COMMON_INSTRUCTION_SET_H
#define N47_COMMON_INSTRUCTION_SET_H

namespace n47 {

// Ordered: each level includes the ones before it.
enum class InstructionSet {
  kLiteral,   // not a processor level: the literal stages themselves, for comparison
  kPortable,  // plain C++, no x86 intrinsics (every non-x86 target)
  kSse2,      // the x86 baseline; every 32-bit Windows PC this library ships to has it
  kAvx2,
  kAvx512,    // AVX-512 F, BW, VL and DQ
};

// What this processor and operating system support.
InstructionSet detectedInstructionSet();

// What the kernels use now: the detected level, limited by the ceiling.
InstructionSet activeInstructionSet();

// Limits the kernels to at most `ceiling` (kAvx512 lifts the limit). Not thread-safe; meant for
// tests and benchmarks, which set it between frames.
void setInstructionSetCeiling(InstructionSet ceiling);

const char* instructionSetName(InstructionSet level);

}  // namespace n47

#endif
