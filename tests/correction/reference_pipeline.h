// An independent reading of the correction rules, written apart from the library's stages
// (the impulse filter in its integer form), used as the oracle of whole-frame tests.
#ifndef N47_TESTS_CORRECTION_REFERENCE_PIPELINE_H
#define N47_TESTS_CORRECTION_REFERENCE_PIPELINE_H

#include <cstdint>
#include <vector>

namespace n47test {

struct ReferenceMaps {
  int width = 0, height = 0;
  std::vector<std::uint8_t> pixelMap;  // (height + 1) x (width + 1), row-major
  std::vector<float> gainMap;          // height x width
  std::uint8_t cell(int r, int c) const { return pixelMap[static_cast<std::size_t>(r) * (width + 1) + c]; }
};

void referenceCorrect(std::vector<std::uint16_t>& frame, const ReferenceMaps& maps, bool calibrationMode);

}  // namespace n47test

#endif
