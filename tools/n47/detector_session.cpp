#include "detector_session.h"

#include <cerrno>
#include <stdexcept>

#include "interruption.h"
#include "n47sim/sim_control.h"
#include "tavrin_n47.h"

namespace n47tool {

DetectorSession::DetectorSession() {
  n47sim_reset();
  n47sim_set_logging(0);
  if (Sys_Allocation_N47() != 1) throw std::runtime_error("the detector could not be created");
  if (CheckInterface() != 1) throw std::runtime_error("the detector did not open");
}

DetectorSession::~DetectorSession() { Sys_Free(); }

Frame DetectorSession::acquire() {
  if (RunforDetector(1) != 1 || RunforDetector(2) != 1) throw std::runtime_error("the detector delivered no frame");
  const unsigned short* image = GetImagePtr();
  return Frame(image, image + kPixels);
}

void DetectorSession::setCalibrationMode(bool on) { CalibrationMode(on ? 1 : 0); }

int DetectorSession::readTemperature() {
  CheckSwitch();
  // The library decodes the temperature frame while it reads the message's bytes.
  for (int i = 0; i < GetMsgLength(); ++i) GetSwitchMsg(i);
  return GetTemperature();
}

void DetectorSession::loadPixelMap(const std::string& path) {
  if (LoadPixelMap(path.c_str()) != 1) {
    throw std::runtime_error(path + ": not a pixel-map file (3,149,313 bytes) that can be read");
  }
}

void DetectorSession::loadGainMap(const std::string& path) {
  if (LoadGainMap(path.c_str()) != 1) {
    throw std::runtime_error(path + ": not a gain-map file (12,582,912 bytes) that can be read");
  }
}

namespace {

// The library removes its temporary itself when a save fails, but no signal handler here can
// name it: a signal waits for the save to end.
void saveMap(decltype(&SavePixelMap) save, const std::string& path, const char* what) {
  HeldInterrupts held;
  errno = 0;
  if (save(path.c_str()) == 1) return;
  // errno is the failed step's: the library's clean-up after it leaves errno alone.
  throw std::runtime_error(path + ": the " + what + " cannot be saved there" + systemReason(errno));
}

}  // namespace

void DetectorSession::savePixelMap(const std::string& path) { saveMap(SavePixelMap, path, "pixel map"); }

void DetectorSession::saveGainMap(const std::string& path) { saveMap(SaveGainMap, path, "gain map"); }

void DetectorSession::calibrate(const Frame& frame, int index, int count) {
  Frame scratch = frame;
  if (Map_Calibration(scratch.data(), index, count) != 1) throw std::runtime_error("a calibration step was refused");
}

}  // namespace n47tool
