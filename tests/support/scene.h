// A frame with its pixel map and gain map, and the scenes the tests, fuzz targets and
// benchmarks build: realistic ones as the detector produces them (a smooth level with shading,
// noise of a few tens of counts, about 0.1 % impulses, some above 14 bits, about 0.1 %
// defective cells with code-2 clusters, a few marked rows and columns, and a gain map around 1
// with a few odd entries), and flat exposures of a calibration series.
#ifndef N47_TESTS_SUPPORT_SCENE_H
#define N47_TESTS_SUPPORT_SCENE_H

#include "maps.h"

namespace n47test {

struct Scene {
  Scene(int w, int h) : width(w), height(h), frame(w, h), map(w, h), gain(w, h) {}
  int width, height;
  Frame frame;
  PixelMap map;
  GainMap gain;
};

Scene makeRealisticScene(int width, int height, unsigned seed);

// The realistic scene with more damage, the frames a correction must not slow down on: ten times
// the impulses, about 0.5 % defective cells in clusters, flat patches whose deviations of 1 or 2
// counts make the impulse filter's band as narrow as it gets, and a bright region above 14 bits.
Scene makeHardScene(int width, int height, unsigned seed);

// A flat exposure of the calibration series: level, shading, noise, and a few defects.
Frame makeFlatFrame(int width, int height, unsigned seed);

}  // namespace n47test

#endif
