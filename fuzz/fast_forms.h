// The fast forms of the stages against the literal ones inside a fuzz target: each check
// runs the literal form once and the fast form at every instruction-set level this machine
// has, on copies of the same input, and aborts on the first value that differs.
#ifndef N47_FUZZ_FAST_FORMS_H
#define N47_FUZZ_FAST_FORMS_H

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include "common/instruction_set.h"
#include "fuzz_input.h"

namespace n47fuzz {

inline const std::vector<n47::InstructionSet>& fastLevels() {
  static const std::vector<n47::InstructionSet> levels = [] {
    std::vector<n47::InstructionSet> found;
    for (auto level : {n47::InstructionSet::kPortable, n47::InstructionSet::kSse2, n47::InstructionSet::kAvx2,
                       n47::InstructionSet::kAvx512}) {
      if (level <= n47::detectedInstructionSet()) found.push_back(level);
    }
    return found;
  }();
  return levels;
}

// An exactly sized heap copy, so that a fast form reading or writing past the end is caught
// by the sanitizers (a vector of no elements would hand out a null pointer).
template <typename T>
std::unique_ptr<T[]> exactCopy(const T* data, std::size_t count) {
  auto copy = std::make_unique<T[]>(count);
  if (count > 0) std::memcpy(copy.get(), data, count * sizeof(T));
  return copy;
}

// Separately allocated rows of exact length, as the library's maps are.
template <typename T>
struct Rows {
  Rows(int length, int count) {
    for (int r = 0; r < count; ++r) storage.push_back(std::make_unique<T[]>(static_cast<std::size_t>(length)));
    for (auto& row : storage) pointers.push_back(row.get());
  }
  std::vector<std::unique_ptr<T[]>> storage;
  std::vector<T*> pointers;
};

// `literal(values)` has already run on `values`, whose input was `input`; `fast(copy)` must
// leave each level's copy of `input` equal to it.
template <typename T, class Fast>
void checkFastForm(const T* input, const T* values, std::size_t count, Fast fast) {
  for (const auto level : fastLevels()) {
    n47::setInstructionSetCeiling(level);
    auto copy = exactCopy(input, count);
    fast(copy.get());
    N47_FUZZ_CHECK(std::equal(values, values + count, copy.get()));
  }
  n47::setInstructionSetCeiling(n47::InstructionSet::kAvx512);
}

}  // namespace n47fuzz

#endif
