#include <cstring>

#include "detector/detector.h"
#include "grabber/usb_frm01.h"
#include "platform/sleep.h"

namespace n47 {
namespace {

constexpr std::uint8_t kSwitch1 = 'v';
constexpr std::uint8_t kSwitch2 = 's';
constexpr std::uint8_t kSwitch3 = 'u';
constexpr std::uint8_t kTemperatureStart = 'f';
constexpr std::uint8_t kTemperatureEnd = 'g';
// A temperature frame at this index or later is not decoded (its end would lie past the
// 1024-byte buffer's usable window).
constexpr int kLastTemperatureIndex = 96;
constexpr int kInitCommReads = 100;

// The value byte is a signed 8-bit number, offset by 5 degrees.
int decodeTemperature(std::uint8_t value) {
  const int magnitude = value & 0x7F;
  return (value & 0x80) != 0 ? magnitude - 128 - 5 : magnitude - 5;
}

}  // namespace

void Detector::pollMessage() {
  sleepOneMillisecond();
  std::memset(msgBuffer, 0, kMessageLength);
  std::int32_t length = kMessageLength;
  UART_GetData(&length, msgBuffer);
}

void Detector::initComm() {
  for (int read = 0; read < kInitCommReads; ++read) {
    std::memset(msgBuffer, 0, kMessageLength);
    pollMessage();
    for (int index = 0; index < kMessageLength; ++index) parseMessage(index);
  }
}

int Detector::parseMessage(int index) {
  const std::uint8_t byte = msgBuffer[index];
  if (byte == kSwitch1) return 1;
  if (byte == kSwitch2) return 2;
  if (byte == kSwitch3) return 3;
  if (byte == kTemperatureStart && index <= kLastTemperatureIndex) {
    // An incomplete frame decodes to nothing and leaves the temperature as it was.
    if (msgBuffer[index + 2] == kTemperatureEnd) temperature = decodeTemperature(msgBuffer[index + 1]);
  }
  return 0;
}

}  // namespace n47
