#include "detector_session.h"

#include <stdexcept>

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

int DetectorSession::readTemperature() { return readControl().temperature; }

DetectorSession::ControlReading DetectorSession::readControl() {
  CheckSwitch();
  ControlReading reading;
  // The library decodes the temperature frame while it reads the message's bytes.
  for (int i = 0; i < GetMsgLength(); ++i) {
    if (const int code = GetSwitchMsg(i); code != 0) reading.switchCodes.push_back(code);
  }
  reading.temperature = GetTemperature();
  return reading;
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

void DetectorSession::savePixelMap(const std::string& path) {
  if (SavePixelMap(path.c_str()) != 1) throw std::runtime_error(path + ": the pixel map cannot be saved there");
}

void DetectorSession::saveGainMap(const std::string& path) {
  if (SaveGainMap(path.c_str()) != 1) throw std::runtime_error(path + ": the gain map cannot be saved there");
}

void DetectorSession::calibrate(const Frame& frame, int index, int count) {
  Frame scratch = frame;
  if (Map_Calibration(scratch.data(), index, count) != 1) throw std::runtime_error("a calibration step was refused");
}

}  // namespace n47tool
