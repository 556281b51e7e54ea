// The detector libraries as the tool loads them at run time, the way an application does:
// first the USB_FRM01 grabber library (the simulator shipped beside n47 unless a live command
// chose another), with its symbols global, then the driver, whose grabber imports therefore
// bind to the chosen grabber. The simulator's own controls are looked up in the loaded grabber
// only where a command uses them, so n47 starts with a grabber that has none of them.
#ifndef N47_TOOLS_GRABBER_H
#define N47_TOOLS_GRABBER_H

#include <string>
#include <vector>

#include "image_io.h"
#include "tavrin_n47.h"

namespace n47tool {

// The grabber library for every later use, and where it was named (an option, a variable) for
// messages; an empty path: the simulator shipped with n47. Only before
// the libraries are first used.
void chooseGrabber(const std::string& path, const std::string& origin);

// The driver's exports, as loaded (each named as the library exports it).
struct DriverExports {
#define N47_DRIVER_EXPORT(name) decltype(&::name) name = nullptr;
  N47_DRIVER_EXPORT(Sys_Allocation_N47)
  N47_DRIVER_EXPORT(Sys_Free)
  N47_DRIVER_EXPORT(CheckInterface)
  N47_DRIVER_EXPORT(CheckSwitch)
  N47_DRIVER_EXPORT(GetSwitchMsg)
  N47_DRIVER_EXPORT(Init_Comm)
  N47_DRIVER_EXPORT(GetTemperature)
  N47_DRIVER_EXPORT(GetMsgLength)
  N47_DRIVER_EXPORT(RunforDetector)
  N47_DRIVER_EXPORT(Ready_Time_Chk)
  N47_DRIVER_EXPORT(GetImagePtr)
  N47_DRIVER_EXPORT(CalibrationMode)
  N47_DRIVER_EXPORT(Map_Calibration)
  N47_DRIVER_EXPORT(LoadPixelMap)
  N47_DRIVER_EXPORT(LoadGainMap)
  N47_DRIVER_EXPORT(SavePixelMap)
  N47_DRIVER_EXPORT(SaveGainMap)
#undef N47_DRIVER_EXPORT
};

struct DetectorLibraries {
  std::string driverPath, grabberPath;
  bool grabberIsSimulator = false;
  DriverExports driver;
};

// Loads both libraries on the first call. Throws std::runtime_error with a message for the
// user (a missing file, a library that is no USB_FRM01 grabber, no driver beside n47).
const DetectorLibraries& detectorLibraries();
inline const DriverExports& driver() { return detectorLibraries().driver; }

// A defect the simulator planted (kind: N47SIM_DEFECT_*; -1 for the running coordinate of a line).
struct SimulatedDefect {
  int kind, row, column;
};

// The simulator's controls, from the loaded grabber.
class Simulator {
 public:
  // Power-on state, call log off (a long run would fill it).
  void reset() const;
  // The frame every later capture delivers.
  void setFrame(const Frame& frame) const;
  // The simulated panel of this seed, in charge of frames and messages from now on.
  void startModel(unsigned seed) const;
  void setScene(int scene, double dose) const;  // N47SIM_SCENE_*
  Frame render() const;  // the next frame of the scene, fresh noise
  Frame ideal() const;   // the scene as a perfect correction shows it
  Frame lastFrame() const;
  std::vector<SimulatedDefect> defects() const;
};

// The simulator when the loaded grabber is the simulator, else null.
const Simulator* loadedSimulator();
// The simulator, or std::runtime_error naming `option` and the grabber that is not the simulator.
const Simulator& requireSimulator(const std::string& option);

}  // namespace n47tool

#endif
