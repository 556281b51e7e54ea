// A USB_FRM01 frame grabber with only the eleven operations, answering as a device does: the
// status falls after LVDS_Start and rises when the frame is ready, each LVDS_GetFrame delivers
// a fresh flat exposure of the panel in test_grabber_panel.h, and each UART_GetData the next
// control message. Nothing else is exported (test_grabber.map).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "grabber/usb_frm01.h"
#include "test_grabber_panel.h"

namespace {

using namespace n47testgrabber;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kPixels = static_cast<std::size_t>(kWidth) * kHeight;
constexpr std::int32_t kMessageBytes = 64;

struct Device {
  int openResult = 0;
  std::chrono::milliseconds framePeriod{0};
  std::vector<std::uint16_t> noiseFree;  // built once, at the first open
  std::uint64_t framesDelivered = 0;
  std::uint64_t messagesSent = 0;
  Clock::time_point started{};
  bool statusFell = false;
};

Device& device() {
  static Device state;
  return state;
}

int environmentNumber(const char* name, int fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return *end == '\0' ? static_cast<int>(value) : fallback;
}

void buildNoiseFreeFrame(std::vector<std::uint16_t>& frame) {
  frame.resize(kPixels);
  for (int r = 0; r < kHeight; ++r) {
    for (int c = 0; c < kWidth; ++c) {
      const double value = kDarkLevel + kSignal * plantedGain(r, c);
      frame[static_cast<std::size_t>(r) * kWidth + c] = static_cast<std::uint16_t>(value);
    }
  }
  for (const Cluster& cluster : kClusters) {
    for (int r = cluster.row; r < cluster.row + cluster.height; ++r) {
      std::fill_n(frame.begin() + static_cast<std::ptrdiff_t>(r) * kWidth + cluster.column, cluster.width, cluster.value);
    }
  }
}

// xorshift64*: plain, fast, and the same sequence for the same frame number.
struct Noise {
  std::uint64_t state;
  explicit Noise(std::uint64_t frame) : state(0x9E3779B97F4A7C15ull * (frame + 1)) {}
  int next() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return static_cast<int>(((state * 0x2545F4914F6CDD1Dull) >> 32) % (2 * kNoise + 1)) - kNoise;
  }
};

bool isDefect(std::uint16_t value) { return value == 0 || value == 16383; }

}  // namespace

extern "C" {

USB_FRM01_API int USB_FRM01_CALL OpenDAQDevice(void) {
  Device& d = device();
  d.openResult = environmentNumber("N47_TEST_GRABBER_OPEN", 0);
  d.framePeriod = std::chrono::milliseconds(std::max(0, environmentNumber("N47_TEST_GRABBER_FRAME_MS", 0)));
  if (d.noiseFree.empty()) buildNoiseFreeFrame(d.noiseFree);
  d.framesDelivered = 0;
  d.messagesSent = 0;
  return d.openResult;
}

USB_FRM01_API int USB_FRM01_CALL CloseDAQDevice(void) { return 0; }

USB_FRM01_API int USB_FRM01_CALL LVDS_Init(void) { return 0; }

USB_FRM01_API int USB_FRM01_CALL LVDS_SetModel(int32_t) { return 0; }

USB_FRM01_API int USB_FRM01_CALL LVDS_Start(void) {
  device().started = Clock::now();
  device().statusFell = false;
  return 0;
}

USB_FRM01_API int USB_FRM01_CALL LVDS_Check(void) {
  Device& d = device();
  if (!d.statusFell) {
    d.statusFell = true;
    return 0;
  }
  return Clock::now() - d.started >= d.framePeriod ? 1 : 0;
}

USB_FRM01_API int USB_FRM01_CALL LVDS_GetFrame(int32_t* byteCount, uint16_t* destination) {
  Device& d = device();
  if (byteCount == nullptr || destination == nullptr || *byteCount <= 0 || d.noiseFree.empty()) return -1;
  const std::size_t pixels = std::min(kPixels, static_cast<std::size_t>(*byteCount) / sizeof(std::uint16_t));
  Noise noise(d.framesDelivered++);
  for (std::size_t i = 0; i < pixels; ++i) {
    const std::uint16_t clean = d.noiseFree[i];
    const int jitter = noise.next();
    destination[i] = isDefect(clean) ? clean : static_cast<std::uint16_t>(clean + jitter);
  }
  return 0;
}

USB_FRM01_API int USB_FRM01_CALL LVDS_Close(void) { return 0; }

USB_FRM01_API int USB_FRM01_CALL UART_Init(void) { return 0; }

USB_FRM01_API int USB_FRM01_CALL UART_GetData(int32_t* length, uint8_t* destination) {
  if (length == nullptr || destination == nullptr || *length < kMessageBytes) return -1;
  const std::uint64_t n = device().messagesSent++;
  std::memset(destination, 0, kMessageBytes);
  if (n % 5 == 1) destination[0] = 'v';
  if (n % 7 == 2) destination[1] = 's';
  if (n % 11 == 3) destination[2] = 'u';
  destination[10] = 'f';
  destination[11] = static_cast<std::uint8_t>(kTemperature + 5);
  destination[12] = 'g';
  return 0;
}

USB_FRM01_API int USB_FRM01_CALL UART_Close(void) { return 0; }

}  // extern "C"
