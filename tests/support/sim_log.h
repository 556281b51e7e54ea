// Reading the simulator's call log in tests.
#ifndef N47_TESTS_SUPPORT_SIM_LOG_H
#define N47_TESTS_SUPPORT_SIM_LOG_H

#include <string>
#include <vector>

#include "n47sim/sim_control.h"

namespace n47test {

std::vector<n47sim_call> simCalls();
// The operation names of the log, e.g. {"OpenDAQDevice", "LVDS_Init", ...}.
std::vector<std::string> simCallNames();
// How many logged calls are of `operation`.
int simCallsOf(int operation);

}  // namespace n47test

#endif
