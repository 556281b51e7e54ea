// The fast calibration steps compiled with -mavx2.
#include "calibration/fast_steps.h"

N47_DEFINE_CALIBRATION_STEPS(Avx2)
