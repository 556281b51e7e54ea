// The detector as the tool drives it: through the exports of the driver loaded by grabber.h,
// on the grabber chosen there (the simulator unless a live command chose another).
#ifndef N47_TOOLS_DETECTOR_SESSION_H
#define N47_TOOLS_DETECTOR_SESSION_H

#include <vector>

#include "image_io.h"

namespace n47tool {

class DetectorSession {
 public:
  // Whether a device that did not open is an error (every command that captures) or a finding
  // to report (n47 info).
  enum class Device { MustOpen, MayStayClosed };

  // Resets the simulator when it is the grabber, and creates the detector; throws on failure.
  explicit DetectorSession(Device device = Device::MustOpen);
  ~DetectorSession();
  DetectorSession(const DetectorSession&) = delete;
  DetectorSession& operator=(const DetectorSession&) = delete;

  // Whether the device opened when the detector was created (CheckInterface).
  bool deviceOpened() const;

  // Ready, acquire, and a copy of the corrected frame. Throws when no frame came.
  Frame acquire();
  void setCalibrationMode(bool on);
  // Reads the next control message and returns the temperature the library decoded.
  int readTemperature();
  // Takes the waiting messages off the control channel, decoding each (Init_Comm).
  void drainControlChannel();
  // Reads the next control message and returns the switch codes (1, 2, 3) in it, in order.
  std::vector<int> readSwitchCodes();
  // The temperature last decoded, degrees.
  int temperature() const;
  void loadPixelMap(const std::string& path);
  void loadGainMap(const std::string& path);
  void savePixelMap(const std::string& path);
  void saveGainMap(const std::string& path);
  // One calibration step on a copy of `frame` (the library rewrites the frame it is given).
  void calibrate(const Frame& frame, int index, int count);
};

}  // namespace n47tool

#endif
