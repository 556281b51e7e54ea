// The fast calibration steps compiled with the baseline flags (SSE2 on x86; whatever the target has elsewhere).
#include "calibration/fast_steps.h"

N47_DEFINE_CALIBRATION_STEPS(Baseline)
