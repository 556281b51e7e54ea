// The detector as the tool drives it: through the library's exports, against the simulator.
#ifndef N47_TOOLS_DETECTOR_SESSION_H
#define N47_TOOLS_DETECTOR_SESSION_H

#include <vector>

#include "image_io.h"

namespace n47tool {

class DetectorSession {
 public:
  DetectorSession();  // resets the simulator and creates the detector; throws on failure
  ~DetectorSession();
  DetectorSession(const DetectorSession&) = delete;
  DetectorSession& operator=(const DetectorSession&) = delete;

  // Ready, acquire, and a copy of the corrected frame. Throws when no frame came.
  Frame acquire();
  void setCalibrationMode(bool on);
  // Reads the next control message and returns the temperature the library decoded.
  int readTemperature();
  struct ControlReading {
    int temperature = 0;
    std::vector<int> switchCodes;  // 1, 2 or 3 for each switch byte, in the message's order
  };
  ControlReading readControl();
  void loadPixelMap(const std::string& path);
  void loadGainMap(const std::string& path);
  void savePixelMap(const std::string& path);
  void saveGainMap(const std::string& path);
  // One calibration step on a copy of `frame` (the library rewrites the frame it is given).
  void calibrate(const Frame& frame, int index, int count);
};

}  // namespace n47tool

#endif
