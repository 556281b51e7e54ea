#include "api/detector_instance.h"

n47::Detector* g_detector = nullptr;
