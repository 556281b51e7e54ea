#include "detector_session.h"

#include <stdexcept>

#include "grabber.h"

namespace n47tool {

DetectorSession::DetectorSession(Device device) {
  if (const Simulator* simulator = loadedSimulator()) simulator->reset();
  if (driver().Sys_Allocation_N47() != 1) throw std::runtime_error("the detector could not be created");
  if (device == Device::MustOpen && !deviceOpened()) {
    driver().Sys_Free();
    throw std::runtime_error("the detector did not open (grabber " + detectorLibraries().grabberPath + ")");
  }
}

DetectorSession::~DetectorSession() { driver().Sys_Free(); }

bool DetectorSession::deviceOpened() const { return driver().CheckInterface() == 1; }

Frame DetectorSession::acquire() {
  if (driver().RunforDetector(1) != 1 || driver().RunforDetector(2) != 1) {
    throw std::runtime_error("the detector delivered no frame");
  }
  const unsigned short* image = driver().GetImagePtr();
  return Frame(image, image + kPixels);
}

void DetectorSession::setCalibrationMode(bool on) { driver().CalibrationMode(on ? 1 : 0); }

int DetectorSession::readTemperature() {
  readSwitchCodes();
  return temperature();
}

void DetectorSession::drainControlChannel() { driver().Init_Comm(); }

std::vector<int> DetectorSession::readSwitchCodes() {
  driver().CheckSwitch();
  // The library decodes a temperature frame while it reads the message's bytes.
  std::vector<int> codes;
  for (int i = 0; i < driver().GetMsgLength(); ++i) {
    if (const int code = driver().GetSwitchMsg(i); code != 0) codes.push_back(code);
  }
  return codes;
}

int DetectorSession::temperature() const { return driver().GetTemperature(); }

void DetectorSession::loadPixelMap(const std::string& path) {
  if (driver().LoadPixelMap(path.c_str()) != 1) {
    throw std::runtime_error(path + ": not a pixel-map file (3,149,313 bytes) that can be read");
  }
}

void DetectorSession::loadGainMap(const std::string& path) {
  if (driver().LoadGainMap(path.c_str()) != 1) {
    throw std::runtime_error(path + ": not a gain-map file (12,582,912 bytes) that can be read");
  }
}

void DetectorSession::savePixelMap(const std::string& path) {
  if (driver().SavePixelMap(path.c_str()) != 1) throw std::runtime_error(path + ": the pixel map cannot be saved there");
}

void DetectorSession::saveGainMap(const std::string& path) {
  if (driver().SaveGainMap(path.c_str()) != 1) throw std::runtime_error(path + ": the gain map cannot be saved there");
}

void DetectorSession::calibrate(const Frame& frame, int index, int count) {
  Frame scratch = frame;
  if (driver().Map_Calibration(scratch.data(), index, count) != 1) {
    throw std::runtime_error("a calibration step was refused");
  }
}

}  // namespace n47tool
