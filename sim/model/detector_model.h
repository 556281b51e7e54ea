// A seeded physical model of the panel: fixed per-pixel properties drawn once, and frames
// rendered from them with fresh noise each time.
//
// Drawing three million normal deviates takes most of 100 ms, too slow for a live view. The
// model draws a few fields of standard normal noise once (each on its first use) and gives
// every frame one of them, cyclically shifted by a random amount: each pixel still meets a
// fresh, independent deviate in every frame, and a frame costs one multiply-add a pixel.
#ifndef N47SIM_MODEL_DETECTOR_MODEL_H
#define N47SIM_MODEL_DETECTOR_MODEL_H

#include <cstdint>
#include <vector>

#include "n47sim/model_control.h"

namespace n47sim {

class DetectorModel {
 public:
  explicit DetectorModel(const n47sim_model_params& params);

  void setScene(int scene, double dose);
  // Renders the next frame; each call draws new noise (the sequence repeats for one seed).
  void render(std::uint16_t* frame);
  static constexpr int kNoiseFields = 4;
  void ideal(std::uint16_t* frame) const;
  const std::vector<n47sim_defect>& defects() const { return defects_; }
  double meanGain() const { return meanGain_; }

 private:
  void placeDefects();
  double transmission(int row, int column) const;
  void updateLevels();
  const std::vector<float>& noiseField(int index);

  n47sim_model_params params_;
  std::vector<float> offset_;
  std::vector<float> gain_;
  std::vector<std::uint8_t> kind_;  // n47sim_defect_kind per pixel, 0 for a good one
  std::vector<n47sim_defect> defects_;
  std::vector<float> transmission_;  // of the current scene
  // Of the current scene, per pixel: the noise-free value and the noise's standard deviation.
  std::vector<float> level_, deviation_;
  std::vector<std::vector<float>> noiseFields_;  // standard normal, drawn on first use
  double meanGain_ = 1.0;
  int scene_ = N47SIM_SCENE_DARK;
  double dose_ = 0.0;
  std::uint64_t framesRendered_ = 0;
};

}  // namespace n47sim

#endif
