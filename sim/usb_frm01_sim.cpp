// A stand-in for the USB_FRM01 frame grabber: the 11 grabber functions, answering as the
// control interface scripts them and logging every call.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "grabber/usb_frm01.h"
#include "n47sim/model_control.h"
#include "n47sim/sim_control.h"

namespace {

constexpr std::size_t kFrameBytes = static_cast<std::size_t>(N47SIM_FRAME_PIXELS) * sizeof(std::uint16_t);

struct Message {
  std::uint8_t bytes[N47SIM_MESSAGE_BYTES];
  std::size_t length;
};

struct SimulatorState {
  int openResult = 1;
  std::deque<int> checkScript;
  bool checkHeld = false;
  int heldValue = 0;
  bool statusFell = false;  // handshake: the status has answered 0 since the last start
  std::vector<std::uint16_t> frame = std::vector<std::uint16_t>(N47SIM_FRAME_PIXELS, 0);
  n47sim_frame_source frameSource = nullptr;
  void* frameContext = nullptr;
  std::size_t framesDelivered = 0;
  std::deque<Message> messages;
  n47sim_message_source messageSource = nullptr;
  void* messageContext = nullptr;
  bool logging = true;
  std::vector<n47sim_call> log;
};

SimulatorState& state() {
  static SimulatorState simulator;
  return simulator;
}

int record(int operation, int result, std::int32_t argument = 0, const void* destination = nullptr,
           int destinationZeroed = 0) {
  SimulatorState& s = state();
  if (s.logging) s.log.push_back(n47sim_call{operation, argument, destination, destinationZeroed, result});
  return result;
}

}  // namespace

extern "C" {

// ---- the grabber functions ------------------------------------------------------------

USB_FRM01_API int USB_FRM01_CALL OpenDAQDevice(void) { return record(N47SIM_OPEN_DAQ_DEVICE, state().openResult); }

USB_FRM01_API int USB_FRM01_CALL CloseDAQDevice(void) { return record(N47SIM_CLOSE_DAQ_DEVICE, 1); }

USB_FRM01_API int USB_FRM01_CALL LVDS_Init(void) { return record(N47SIM_LVDS_INIT, 1); }

USB_FRM01_API int USB_FRM01_CALL LVDS_SetModel(int32_t model) { return record(N47SIM_LVDS_SET_MODEL, 1, model); }

USB_FRM01_API int USB_FRM01_CALL LVDS_Start(void) {
  state().statusFell = false;
  return record(N47SIM_LVDS_START, 1);
}

USB_FRM01_API int USB_FRM01_CALL LVDS_Check(void) {
  SimulatorState& s = state();
  int status;
  if (!s.checkScript.empty()) {
    status = s.checkScript.front();
    s.checkScript.pop_front();
  } else if (s.checkHeld) {
    status = s.heldValue;
  } else {
    status = s.statusFell ? 1 : 0;
    s.statusFell = true;
  }
  return record(N47SIM_LVDS_CHECK, status);
}

USB_FRM01_API int USB_FRM01_CALL LVDS_GetFrame(int32_t* byteCount, uint16_t* destination) {
  SimulatorState& s = state();
  const std::int32_t requested = byteCount != nullptr ? *byteCount : 0;
  if (destination != nullptr && requested > 0) {
    const std::size_t bytes = std::min(static_cast<std::size_t>(requested), kFrameBytes);
    if (s.frameSource != nullptr) {
      s.frameSource(s.frame.data(), s.frame.size(), s.frameContext);
    }
    std::memcpy(destination, s.frame.data(), bytes);
    ++s.framesDelivered;
  }
  return record(N47SIM_LVDS_GET_FRAME, 1, requested, destination);
}

USB_FRM01_API int USB_FRM01_CALL LVDS_Close(void) { return record(N47SIM_LVDS_CLOSE, 1); }

USB_FRM01_API int USB_FRM01_CALL UART_Init(void) { return record(N47SIM_UART_INIT, 1); }

USB_FRM01_API int USB_FRM01_CALL UART_GetData(int32_t* length, uint8_t* destination) {
  SimulatorState& s = state();
  const std::int32_t requested = length != nullptr ? *length : 0;
  int zeroed = 0;
  if (destination != nullptr) {
    zeroed = std::all_of(destination, destination + N47SIM_MESSAGE_BYTES, [](std::uint8_t b) { return b == 0; }) ? 1 : 0;
  }
  Message message{};
  bool have = false;
  if (!s.messages.empty()) {
    message = s.messages.front();
    s.messages.pop_front();
    have = true;
  } else if (s.messageSource != nullptr) {
    message.length = std::min<std::size_t>(s.messageSource(message.bytes, N47SIM_MESSAGE_BYTES, s.messageContext),
                                           N47SIM_MESSAGE_BYTES);
    have = message.length > 0;
  }
  if (have && destination != nullptr && requested > 0) {
    std::memcpy(destination, message.bytes, std::min(message.length, static_cast<std::size_t>(requested)));
  }
  return record(N47SIM_UART_GET_DATA, have ? 1 : 0, requested, destination, zeroed);
}

USB_FRM01_API int USB_FRM01_CALL UART_Close(void) { return record(N47SIM_UART_CLOSE, 1); }

// ---- the control interface ------------------------------------------------------------

N47SIM_API void n47sim_reset(void) { state() = SimulatorState{}; }

N47SIM_API void n47sim_set_open_result(int result) { state().openResult = result; }

N47SIM_API void n47sim_script_check(const int* results, size_t count) {
  for (size_t i = 0; i < count; ++i) state().checkScript.push_back(results[i]);
}

N47SIM_API void n47sim_hold_check(int held, int value) {
  state().checkHeld = held != 0;
  state().heldValue = value;
}

N47SIM_API void n47sim_set_frame(const uint16_t* pixels, size_t count) {
  SimulatorState& s = state();
  std::fill(s.frame.begin(), s.frame.end(), 0);
  if (pixels != nullptr) std::copy_n(pixels, std::min<size_t>(count, s.frame.size()), s.frame.begin());
  s.frameSource = nullptr;
  s.frameContext = nullptr;
}

N47SIM_API void n47sim_set_frame_source(n47sim_frame_source source, void* context) {
  state().frameSource = source;
  state().frameContext = context;
}

N47SIM_API size_t n47sim_frames_delivered(void) { return state().framesDelivered; }

N47SIM_API void n47sim_last_frame(uint16_t* frame) {
  if (frame != nullptr) std::copy(state().frame.begin(), state().frame.end(), frame);
}

N47SIM_API void n47sim_push_message(const uint8_t* bytes, size_t length) {
  Message message{};
  message.length = std::min<size_t>(length, N47SIM_MESSAGE_BYTES);
  if (bytes != nullptr) std::memcpy(message.bytes, bytes, message.length);
  state().messages.push_back(message);
}

N47SIM_API size_t n47sim_pending_messages(void) { return state().messages.size(); }

N47SIM_API void n47sim_set_message_source(n47sim_message_source source, void* context) {
  state().messageSource = source;
  state().messageContext = context;
}

N47SIM_API void n47sim_set_logging(int enabled) { state().logging = enabled != 0; }

N47SIM_API void n47sim_clear_log(void) {
  state().log.clear();
  state().log.shrink_to_fit();
}

N47SIM_API size_t n47sim_call_count(void) { return state().log.size(); }

N47SIM_API int n47sim_get_call(size_t index, n47sim_call* call) {
  const SimulatorState& s = state();
  if (index >= s.log.size() || call == nullptr) return 0;
  *call = s.log[index];
  return 1;
}

N47SIM_API const char* n47sim_operation_name(int operation) {
  static const char* const kNames[] = {"",           "OpenDAQDevice", "CloseDAQDevice", "LVDS_Init",
                                       "LVDS_SetModel", "LVDS_Start",  "LVDS_Check",     "LVDS_GetFrame",
                                       "LVDS_Close",   "UART_Init",     "UART_GetData",   "UART_Close"};
  if (operation < N47SIM_OPEN_DAQ_DEVICE || operation > N47SIM_UART_CLOSE) return "unknown";
  return kNames[operation];
}

}  // extern "C"
