// The calibration loops compiled with -mavx2.
#include "calibration/fast/calibration_loops.h"

namespace n47::fast {

const CalibrationLoops& calibrationLoopsAvx2() { return kLoops; }

}  // namespace n47::fast
