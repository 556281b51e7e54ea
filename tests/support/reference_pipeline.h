// An independent reading of the correction rules, written apart from the library's stages
// (the impulse filter in its integer form), used as the oracle of whole-frame tests.
#ifndef N47_TESTS_SUPPORT_REFERENCE_PIPELINE_H
#define N47_TESTS_SUPPORT_REFERENCE_PIPELINE_H

#include "maps.h"

namespace n47test {

void referenceCorrect(Frame& frame, const PixelMap& map, const GainMap& gain, bool calibrationMode);

}  // namespace n47test

#endif
