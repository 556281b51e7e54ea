#include "view/frame_slot.h"

#include <cstddef>

namespace n47tool {

const std::vector<std::uint32_t>& LiveFrame::histogram() const {
  std::call_once(histogramOnce_, [this] {
    histogram_.assign(65536, 0);
    for (int r = 20; r < kHeight - 20; ++r) {
      const std::uint16_t* row = pixels.data() + static_cast<std::size_t>(r) * kWidth;
      for (int c = 20; c < kWidth - 20; ++c) ++histogram_[row[c]];
    }
  });
  return histogram_;
}

Window LiveFrame::automaticWindow() const {
  const std::vector<std::uint32_t>& counts = histogram();
  const std::size_t inner = static_cast<std::size_t>(kWidth - 40) * (kHeight - 40);
  // The value at sorted position k is the first whose running count passes k.
  const auto percentile = [&](double p) {
    const auto k = static_cast<std::size_t>(p * static_cast<double>(inner - 1));
    std::size_t seen = 0;
    for (std::size_t value = 0; value < counts.size(); ++value) {
      seen += counts[value];
      if (seen > k) return static_cast<double>(value);
    }
    return 65535.0;
  };
  Window window{percentile(0.005), percentile(0.995)};
  if (window.high <= window.low) window.high = window.low + 1.0;
  return window;
}

void FrameSlot::publish(std::shared_ptr<const LiveFrame> frame) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    frame_ = std::move(frame);
  }
  published_.notify_all();
}

std::shared_ptr<const LiveFrame> FrameSlot::newest() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frame_;
}

std::shared_ptr<const LiveFrame> FrameSlot::newerThan(long after, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  published_.wait_for(lock, timeout, [&] { return frame_ && frame_->number > after; });
  return frame_;
}

}  // namespace n47tool
