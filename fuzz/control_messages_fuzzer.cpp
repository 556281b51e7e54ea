// Control messages through the exports: the grabber delivers fuzzed messages of up to 64
// bytes (or none) and the caller decodes fuzzed indices, drains the channel and polls. The
// answers must stay within what the exports promise, whatever the bytes.
#include <cstdint>

#include "fuzz_input.h"
#include "n47sim/sim_control.h"
#include "common/test_seams.h"
#include "tavrin_n47.h"

namespace {

// Messages the grabber hands out while Init_Comm drains the channel.
struct MessageFeed {
  n47fuzz::FuzzInput* input = nullptr;
};

std::size_t nextMessage(std::uint8_t* message, std::size_t capacity, void* context) {
  n47fuzz::FuzzInput& input = *static_cast<MessageFeed*>(context)->input;
  const std::size_t length = input.byte() % (capacity + 1);
  return input.take(message, length);
}

void noSleep() {}

bool temperatureInRange(int t) { return t >= -133 && t <= 122; }

void decodeIndices(n47fuzz::FuzzInput& input) {
  const int indices = input.byte() % 8;
  for (int k = 0; k < indices; ++k) {
    const std::int32_t index = input.byte() < 192 ? input.byte() % 80 - 8 : input.value<std::int32_t>();
    const int code = GetSwitchMsg(index);
    N47_FUZZ_CHECK(code >= 0 && code <= 3);
    if (index < 0 || index > 63) N47_FUZZ_CHECK(code == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  n47fuzz::FuzzInput input(data, size);
  // One detector for the whole run, as an application keeps it: creating the 45 MB of
  // buffers per input would slow fuzzing a hundredfold. Each input starts with the message
  // queue empty and no message source.
  static bool prepared = [] {
    n47::exchangeSleepFunction(noSleep);
    n47sim_reset();
    n47sim_set_logging(0);
    if (Sys_Allocation_N47() != 1) std::abort();
    return true;
  }();
  (void)prepared;
  MessageFeed feed{&input};

  int previousTemperature = GetTemperature();
  N47_FUZZ_CHECK(previousTemperature == 0 || temperatureInRange(previousTemperature));
  while (!input.empty()) {
    switch (input.byte() % 4) {
      case 0: {  // one message, then its bytes decoded
        std::uint8_t message[N47SIM_MESSAGE_BYTES] = {};
        const std::size_t length = input.byte() % (N47SIM_MESSAGE_BYTES + 1);
        n47sim_push_message(message, input.take(message, length));
        N47_FUZZ_CHECK(CheckSwitch() == 1);
        decodeIndices(input);
        break;
      }
      case 1:  // no message waiting: the previous one is cleared
        N47_FUZZ_CHECK(CheckSwitch() == 1);
        for (int index = 0; index < 64; ++index) N47_FUZZ_CHECK(GetSwitchMsg(index) == 0);
        break;
      case 2:  // drain the channel with fuzzed messages
        n47sim_set_message_source(nextMessage, &feed);
        N47_FUZZ_CHECK(Init_Comm() == 1);
        n47sim_set_message_source(nullptr, nullptr);
        break;
      default:
        decodeIndices(input);
        break;
    }
    const int temperature = GetTemperature();
    N47_FUZZ_CHECK(temperature == previousTemperature || temperatureInRange(temperature));
    previousTemperature = temperature;
    N47_FUZZ_CHECK(GetMsgLength() == 64);
  }

  N47_FUZZ_CHECK(n47sim_pending_messages() == 0);
  return 0;
}
