// How long the capture handshake waits for the frame status to fall and rise again before
// the acquire command gives up. A device that stops answering must not hang the caller.
#ifndef N47_DETECTOR_CAPTURE_TIMEOUT_H
#define N47_DETECTOR_CAPTURE_TIMEOUT_H

#include <chrono>

namespace n47 {

inline constexpr std::chrono::milliseconds kCaptureTimeout{10000};

std::chrono::milliseconds captureTimeout();

// Test seam: sets the limit and returns the previous one. Not reachable through the exports.
std::chrono::milliseconds exchangeCaptureTimeout(std::chrono::milliseconds limit);

}  // namespace n47

#endif
