// The calibration loops compiled with the AVX-512 flags.
#include "calibration/fast/calibration_loops.h"

namespace n47::fast {

const CalibrationLoops& calibrationLoopsAvx512() { return kLoops; }

}  // namespace n47::fast
