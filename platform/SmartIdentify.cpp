#include "platform/SmartIdentify.h"

namespace platform {

namespace {

constexpr size_t kSerialFirstWord = 10;
constexpr size_t kSerialWords = 10;

}  // namespace

uint8_t IdentifyCommandFor(uint8_t deviceMap, bool requireDeviceMap) {
  if (requireDeviceMap && deviceMap == 0) return 0;
  return (deviceMap & kIdeMapPacketDrive0) != 0 ? kAtapiIdentifyDevice : kAtaIdentifyDevice;
}

std::string SerialFromIdentifyData(const unsigned char* data, size_t size) {
  const size_t end = 2 * (kSerialFirstWord + kSerialWords);
  if (data == nullptr || size < end) return std::string();
  std::string serial;
  for (size_t at = 2 * kSerialFirstWord; at < end; at += 2) {
    serial += static_cast<char>(data[at + 1]);
    serial += static_cast<char>(data[at]);
  }
  // The serial is handed on as a C string: a NUL ends it.
  serial.resize(serial.find('\0') == std::string::npos ? serial.size() : serial.find('\0'));
  while (!serial.empty() && serial.back() == ' ') serial.pop_back();
  return serial;
}

}  // namespace platform
