#include <chrono>

#include "common/test_seams.h"
#include "detector/detector.h"
#include "grabber/usb_frm01.h"
#include "platform/sleep.h"

namespace n47 {
namespace {

constexpr int kReadyCommand = 1;
constexpr int kAcquireCommand = 2;
constexpr int kStopCommand = 3;
constexpr int kReadyTimeLimit = 5;
constexpr int kRunIdle = 0;
constexpr int kRunCapturing = 1;
constexpr int kRunExpired = 2;
// Fixed by the grabber protocol, not derived from the geometry.
constexpr std::int32_t kFrameByteCount = 6291456;
// How long the capture handshake waits for the frame status to fall and rise again before the
// acquire command gives up: a device that stops answering must not hang the caller.
constexpr std::chrono::milliseconds kCaptureTimeout{10000};

std::chrono::milliseconds g_captureTimeout = kCaptureTimeout;

}  // namespace

std::chrono::milliseconds exchangeCaptureTimeout(std::chrono::milliseconds limit) {
  const auto previous = g_captureTimeout;
  g_captureTimeout = limit;
  return previous;
}

int Detector::run(int code) {
  switch (code) {
    case kReadyCommand:
      if (readyActive == 1) {
        // Refused: the detector stays ready, but the ready-time count starts again.
        readyTimeCount = 0;
        readyTimerOn = 0;
        return 0;
      }
      enterReady();
      return 1;
    case kAcquireCommand:
      return acquire() != 0 ? 1 : 0;
    case kStopCommand:
      stopReady();
      return 1;
    default:
      return 0;
  }
}

void Detector::enterReady() {
  runState = kRunIdle;
  readyActive = 1;
  readyRequested = true;
  readyTimerOn = 1;
}

void Detector::stopReady() {
  if (readyTimerOn != 0) readyTimeCount = 0;
  readyTimerOn = 0;
  readyActive = 0;
  readyRequested = false;
}

int Detector::readyTimeCheck() {
  ++readyTimeCount;
  if (readyTimeCount != kReadyTimeLimit) return 1;
  readyTimerOn = 0;
  runState = kRunExpired;
  readyTimeCount = 0;
  if (readyActive == 1) {
    readyActive = 0;
    return 0;
  }
  return 1;
}

int Detector::acquire() {
  readyTimeCount = 0;
  readyTimerOn = 0;
  if (runState != kRunIdle) {
    readyActive = 0;
    readyRequested = false;
    return 0;
  }
  runState = kRunCapturing;
  int result = 0;
  if (readyActive == 1 && readyRequested) {
    if (captureFrame()) {
      correctImage();
      result = 1;
    }
  }
  runState = kRunIdle;
  readyActive = 0;
  readyRequested = false;
  return result;
}

bool Detector::captureFrame() {
  LVDS_Start();
  const auto deadline = std::chrono::steady_clock::now() + g_captureTimeout;
  const auto expired = [&] { return std::chrono::steady_clock::now() >= deadline; };
  // Wait for the frame status to fall, then to rise again.
  while (LVDS_Check() != 0) {
    if (expired()) return false;
    sleepOneMillisecond();
  }
  while (LVDS_Check() == 0) {
    if (expired()) return false;
    sleepOneMillisecond();
  }
  readFrame(image);
  return true;
}

void Detector::readFrame(std::uint16_t* buffer) {
  std::int32_t byteCount = kFrameByteCount;
  LVDS_GetFrame(&byteCount, buffer);
}

}  // namespace n47
