// The test phantom's transmission (0 .. 1) at a pixel: a step wedge, line-pair groups and
// round features of several sizes and contrasts on an open field.
#ifndef N47SIM_MODEL_PHANTOM_H
#define N47SIM_MODEL_PHANTOM_H

namespace n47sim {

double phantomTransmission(int row, int column);

}  // namespace n47sim

#endif
