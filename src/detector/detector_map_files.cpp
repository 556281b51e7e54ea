#include "calibration/map_files.h"
#include "detector/detector.h"

namespace n47 {

int Detector::loadPixelMapFile(const char* path, PixelMapRows rows) {
  return loadPixelMap(path, rows, mapWidth, mapHeight) ? 1 : 0;
}

int Detector::loadGainMapFile(const char* path) { return loadGainMap(path, gainMap, width, height) ? 1 : 0; }

int Detector::savePixelMapFile(const char* path, ConstPixelMapRows rows) const {
  return savePixelMap(path, rows, mapWidth, mapHeight) ? 1 : 0;
}

int Detector::saveGainMapFile(const char* path, ConstGainMapRows rows) const {
  return saveGainMap(path, rows, width, height) ? 1 : 0;
}

}  // namespace n47
