// The exported functions: each looks up the detector, answers its fixed value when there is
// none, and otherwise forwards to one operation of the detector.
#include "api/detector_instance.h"
#include "calibration/calibration_steps.h"
#include "tavrin_n47.h"

namespace {

constexpr int kMaxMessageIndex = n47::Detector::kMessageLength - 1;

}  // namespace

extern "C" {

N47_API int N47_CALL Sys_Allocation_N47(void) {
  if (g_detector != nullptr) return -1;
  g_detector = n47::Detector::create();
  return g_detector != nullptr ? 1 : 0;
}

N47_API int N47_CALL Sys_Free(void) {
  if (g_detector == nullptr) return -1;
  n47::Detector::destroy(g_detector);
  g_detector = nullptr;
  return 1;
}

N47_API int N47_CALL CheckInterface(void) {
  if (g_detector == nullptr) return -1;
  return g_detector->checkInterface();
}

N47_API unsigned short* N47_CALL GetImagePtr(void) {
  if (g_detector == nullptr) return nullptr;
  return g_detector->imagePtr();
}

N47_API unsigned short* N47_CALL SaveRawImage(void) { return GetImagePtr(); }

N47_API int N47_CALL CheckSwitch(void) {
  if (g_detector == nullptr) return -1;
  g_detector->pollMessage();
  return 1;
}

N47_API int N47_CALL GetSwitchMsg(int index) {
  if (g_detector == nullptr) return 0;
  if (index < 0 || index > kMaxMessageIndex) return 0;
  const int code = g_detector->parseMessage(index);
  return code >= 1 && code <= 3 ? code : 0;
}

N47_API int N47_CALL Init_Comm(void) {
  if (g_detector == nullptr) return -1;
  g_detector->initComm();
  return 1;
}

N47_API int N47_CALL GetTemperature(void) {
  if (g_detector == nullptr) return -1;
  return g_detector->temperature;
}

N47_API int N47_CALL GetMsgLength(void) {
  if (g_detector == nullptr) return -1;
  return g_detector->msgLength;
}

N47_API int N47_CALL RunforDetector(int command) {
  if (g_detector == nullptr) return command;
  const int code = command >= 1 && command <= 3 ? command : 0;
  return g_detector->run(code);
}

N47_API int N47_CALL Ready_Time_Chk(void) {
  if (g_detector == nullptr) return 0;
  return g_detector->readyTimeCheck();
}

N47_API int N47_CALL CalibrationMode(int mode) {
  if (g_detector == nullptr) return -1;
  if (mode == 0) {
    g_detector->clearCalibrationMode();
    return 0;
  }
  if (mode == 1) {
    g_detector->setCalibrationMode();
    return 1;
  }
  return mode;
}

N47_API int N47_CALL Map_Calibration(unsigned short* frame, int index, int count) {
  if (g_detector == nullptr) return -1;
  if (frame == nullptr || count < 1 || count > n47::kMaxCalibrationFrames) return 0;
  g_detector->calibrate(frame, index, count);
  return 1;
}

N47_API int N47_CALL LoadPixelMap(const char* path) {
  if (g_detector == nullptr) return 0;
  return g_detector->loadPixelMapFile(path, g_detector->pixelMap);
}

N47_API int N47_CALL LoadGainMap(const char* path) {
  if (g_detector == nullptr) return 0;
  return g_detector->loadGainMapFile(path);
}

N47_API int N47_CALL SavePixelMap(const char* path) {
  if (g_detector == nullptr) return -1;
  return g_detector->savePixelMapFile(path, g_detector->newPixelMap);
}

N47_API int N47_CALL SaveGainMap(const char* path) {
  if (g_detector == nullptr) return -1;
  return g_detector->saveGainMapFile(path, g_detector->newGainMap);
}

}  // extern "C"
