// The calibration loops compiled with the baseline flags (SSE2 on x86).
#include "calibration/fast/calibration_loops.h"

namespace n47::fast {

const CalibrationLoops& calibrationLoopsBaseline() { return kLoops; }

}  // namespace n47::fast
