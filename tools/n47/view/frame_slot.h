// What the capture loop and the live view's server share: the newest frame and nothing else.
// The loop replaces it and never waits for a reader; a reader that comes late finds the newest
// frame, never a backlog. What a picture of the frame needs (its histogram, its automatic
// window) is worked out once, by the first reader that asks.
#ifndef N47_TOOLS_VIEW_FRAME_SLOT_H
#define N47_TOOLS_VIEW_FRAME_SLOT_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "image_io.h"

namespace n47tool {

struct LiveFrame {
  Frame pixels;
  long number = 0;  // 1 for the first frame captured
  std::chrono::system_clock::time_point captured;
  bool calibrationMode = false;
  int temperature = 0;

  // Of the pixels inside the 20-pixel border, one bin per value.
  const std::vector<std::uint32_t>& histogram() const;
  // The report's rule (autoWindow), from the histogram.
  Window automaticWindow() const;

 private:
  mutable std::once_flag histogramOnce_;
  mutable std::vector<std::uint32_t> histogram_;
};

class FrameSlot {
 public:
  void publish(std::shared_ptr<const LiveFrame> frame);
  // The newest frame, or null before the first.
  std::shared_ptr<const LiveFrame> newest() const;
  // The newest frame once its number exceeds `after`, or the newest when `timeout` passes first.
  std::shared_ptr<const LiveFrame> newerThan(long after, std::chrono::milliseconds timeout) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable published_;
  std::shared_ptr<const LiveFrame> frame_;
};

}  // namespace n47tool

#endif
