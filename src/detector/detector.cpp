#include "detector/detector.h"

#include <new>

#include "common/allocation.h"

namespace n47 {
namespace {

template <typename T>
T* allocateArray(std::size_t count) {
  return static_cast<T*>(allocateZeroed(count * sizeof(T)));
}

// Allocates an array of `rows` row pointers, then each row of `columns` elements, row 0
// first. On failure the rows obtained so far stay in the array (the rest are null) so that
// the ordinary release frees them.
template <typename T>
bool allocateRows(T**& rowArray, int rows, int columns) {
  rowArray = allocateArray<T*>(static_cast<std::size_t>(rows));
  if (rowArray == nullptr) return false;
  for (int r = 0; r < rows; ++r) {
    rowArray[r] = allocateArray<T>(static_cast<std::size_t>(columns));
    if (rowArray[r] == nullptr) return false;
  }
  return true;
}

template <typename T>
void releaseRow(T** rowArray, int r) {
  if (rowArray != nullptr) releaseMemory(rowArray[r]);
}

}  // namespace

Detector* Detector::create() {
  void* storage = allocateZeroed(sizeof(Detector));
  if (storage == nullptr) return nullptr;
  Detector* detector = new (storage) Detector();
  if (!detector->buffersComplete_) {
    destroy(detector);
    return nullptr;
  }
  return detector;
}

void Detector::destroy(Detector* detector) {
  if (detector == nullptr) return;
  detector->~Detector();
  releaseMemory(detector);
}

Detector::Detector()
    : width(kFrameWidth),
      height(kFrameHeight),
      mapWidth(kMapWidth),
      mapHeight(kMapHeight),
      calibrationMode(0),
      readyRequested(false),
      interfaceOk(0),
      temperature(0),
      msgLength(kMessageLength),
      readyTimerOn(0),
      runState(0),
      readyTimeCount(0),
      readyActive(0) {
  // The device is opened before any buffer exists.
  openDevice();
  buffersComplete_ = allocateBuffers();
  if (buffersComplete_) {
    clearPixelMap();
    resetGainMap();
  }
}

bool Detector::allocateBuffers() {
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (!allocateRows(newGainMap, height, width)) return false;
  if (!allocateRows(newPixelMap, mapHeight, mapWidth)) return false;
  if ((image = allocateArray<std::uint16_t>(pixels)) == nullptr) return false;
  if ((flatSum = allocateArray<std::uint32_t>(pixels)) == nullptr) return false;
  if (!allocateRows(gainMap, height, width)) return false;
  if (!allocateRows(pixelMap, mapHeight, mapWidth)) return false;
  if ((msgBuffer = allocateArray<std::uint8_t>(kMsgBufferBytes)) == nullptr) return false;
  return true;
}

Detector::~Detector() {
  // Buffers first, then the device connection.
  releaseBuffers();
  closeDevice();
}

void Detector::releaseBuffers() {
  for (int i = 0; i < mapHeight; ++i) {
    releaseRow(pixelMap, i);
    releaseRow(newPixelMap, i);
  }
  releaseMemory(pixelMap);
  releaseMemory(newPixelMap);
  for (int i = 0; i < height; ++i) {
    releaseRow(gainMap, i);
    releaseRow(newGainMap, i);
  }
  releaseMemory(gainMap);
  releaseMemory(newGainMap);
  releaseMemory(image);
  releaseMemory(flatSum);
  releaseMemory(msgBuffer);
  pixelMap = newPixelMap = nullptr;
  gainMap = newGainMap = nullptr;
  image = nullptr;
  flatSum = nullptr;
  msgBuffer = nullptr;
}

int Detector::checkInterface() const { return interfaceOk != 0 ? 1 : 0; }

void Detector::clearPixelMap() {
  for (int r = 0; r < mapHeight; ++r) {
    for (int c = 0; c < mapWidth; ++c) pixelMap[r][c] = 0;
  }
}

void Detector::resetGainMap() {
  for (int r = 0; r < height; ++r) {
    for (int c = 0; c < width; ++c) gainMap[r][c] = 1.0f;
  }
}

std::uint16_t* Detector::imagePtr() { return image; }

}  // namespace n47
