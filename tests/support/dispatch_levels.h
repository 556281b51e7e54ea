// Runs a check once per kernel level this machine can execute, with the dispatch held there and
// the level's kernel table in hand.
#ifndef N47_TESTS_SUPPORT_DISPATCH_LEVELS_H
#define N47_TESTS_SUPPORT_DISPATCH_LEVELS_H

#include <gtest/gtest.h>

#include <vector>

#include "common/instruction_set.h"
#include "common/test_seams.h"
#include "kernels/kernels.h"

namespace n47test {

inline std::vector<n47::InstructionSet> availableLevels() {
  std::vector<n47::InstructionSet> levels;
  for (auto level : {n47::InstructionSet::kPortable, n47::InstructionSet::kSse2, n47::InstructionSet::kAvx2,
                     n47::InstructionSet::kAvx512}) {
    if (level <= n47::detectedInstructionSet()) levels.push_back(level);
  }
  return levels;
}

// Holds the dispatch at one level for the life of the object.
class HeldLevel {
 public:
  explicit HeldLevel(n47::InstructionSet level) { n47::setInstructionSetCeiling(level); }
  ~HeldLevel() { n47::setInstructionSetCeiling(n47::InstructionSet::kAvx512); }
  HeldLevel(const HeldLevel&) = delete;
  HeldLevel& operator=(const HeldLevel&) = delete;
};

// check(kernels) with kernels the level's table, which the detector then uses too.
template <class Check>
void forEachLevel(Check check) {
  for (const n47::InstructionSet level : availableLevels()) {
    SCOPED_TRACE(n47::instructionSetName(level));
    HeldLevel held(level);
    ASSERT_EQ(n47::activeInstructionSet(), level);
    ASSERT_EQ(&n47::activeKernels(), &n47::kernelsFor(level));
    check(n47::activeKernels());
  }
}

}  // namespace n47test

#endif
