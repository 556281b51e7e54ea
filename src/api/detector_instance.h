#ifndef N47_API_DETECTOR_INSTANCE_H
#define N47_API_DETECTOR_INSTANCE_H

#include "detector/detector.h"

// The single detector object; null while none exists. Only Sys_Allocation_N47 and Sys_Free
// write it.
extern n47::Detector* g_detector;

#endif
