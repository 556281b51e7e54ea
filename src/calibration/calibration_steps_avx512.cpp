// The fast calibration steps compiled with the AVX-512 flags.
#include "calibration/fast_steps.h"

N47_DEFINE_CALIBRATION_STEPS(Avx512)
