// The one detector object: geometry, frame, maps, calibration accumulator, message buffer,
// flags and acquisition state, and the connection to the grabber library.
#ifndef N47_DETECTOR_DETECTOR_H
#define N47_DETECTOR_DETECTOR_H

#include <cstdint>

#include "common/geometry.h"

namespace n47 {

class Detector {
 public:
  // Obtains storage, constructs the object (which opens the device and allocates every
  // buffer, zero-filled) and returns it; null when memory ran out, in which case whatever
  // was obtained has been released and an opened device closed again.
  static Detector* create();
  // Destroys through the virtual destructor and releases the object's storage.
  static void destroy(Detector* detector);

  virtual ~Detector();

  // Device connection.
  void openDevice();
  void closeDevice();
  void releaseBuffers();
  int checkInterface() const;

  // Maps and frame.
  void clearPixelMap();
  void resetGainMap();
  std::uint16_t* imagePtr();

  // Control messages.
  void pollMessage();
  void initComm();
  int parseMessage(int index);

  // Acquisition.
  int run(int code);
  int readyTimeCheck();
  void enterReady();
  void stopReady();
  int acquire();
  bool captureFrame();  // false when the frame status never completed its fall and rise
  void readFrame(std::uint16_t* buffer);

  // Correction of the image in place, by the kernels chosen for this processor.
  void setCalibrationMode();
  void clearCalibrationMode();
  void correctImage();

  // Calibration, by the same kernels.
  void calibrate(std::uint16_t* frame, int index, int count);
  void accumulateFlatFrame(const std::uint16_t* frame, int index, int count);
  void generateDefectMap(std::uint16_t* frame);
  void finishFlatSeries(const std::uint16_t* frame, int count);  // the last accumulation, then the gain map

  // Map files; 1 on success, 0 on failure (the map or the file is then as it was).
  int loadPixelMapFile(const char* path, PixelMapRows rows);
  int loadGainMapFile(const char* path);
  int savePixelMapFile(const char* path, ConstPixelMapRows rows) const;
  int saveGainMapFile(const char* path, ConstGainMapRows rows) const;

  // Fields, in the order the design declares them.
  float** gainMap = nullptr;
  float** newGainMap = nullptr;
  std::uint8_t** pixelMap = nullptr;
  std::uint8_t** newPixelMap = nullptr;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t mapWidth = 0;
  std::int32_t mapHeight = 0;
  std::uint32_t* flatSum = nullptr;
  std::int32_t calibrationMode = 0;
  bool readyRequested = false;
  std::int32_t interfaceOk = 0;
  std::int32_t temperature = 0;
  std::int32_t msgLength = 0;
  std::int32_t readyTimerOn = 0;
  std::int32_t runState = 0;
  std::int32_t readyTimeCount = 0;
  std::int32_t readyActive = 0;
  std::uint16_t* image = nullptr;
  std::uint8_t* msgBuffer = nullptr;

  static constexpr int kMsgBufferBytes = 1024;
  static constexpr int kMessageLength = 64;

 private:
  Detector();
  Detector(const Detector&) = delete;
  Detector& operator=(const Detector&) = delete;

  // True when every buffer was obtained at construction.
  bool allocateBuffers();
  bool buffersComplete_ = false;
};

}  // namespace n47

#endif
