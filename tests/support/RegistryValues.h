#pragma once
// Values written into the test's registry through the platform, the way a
// task program or an operator would store them.
#include <cstdint>
#include <string>

#include "platform/Registry.h"

namespace obxtest {

inline bool WriteRegValue(platform::RegRoot root, const std::string& subkey,
                          const std::string& name, uint32_t type, const void* data, uint32_t size) {
  platform::RegKey key = nullptr;
  if (platform::CreateRegKey(root, subkey, platform::kKeyAllAccess, &key) !=
      platform::kErrorSuccess)
    return false;
  const long rc =
      platform::SetRegValue(key, name, type, static_cast<const unsigned char*>(data), size);
  platform::CloseRegKey(key);
  return rc == platform::kErrorSuccess;
}

// A REG_DWORD, little-endian as Windows stores it.
inline bool WriteRegDword(platform::RegRoot root, const std::string& subkey,
                          const std::string& name, uint32_t value) {
  const unsigned char bytes[4] = {static_cast<unsigned char>(value & 0xFF),
                                  static_cast<unsigned char>((value >> 8) & 0xFF),
                                  static_cast<unsigned char>((value >> 16) & 0xFF),
                                  static_cast<unsigned char>((value >> 24) & 0xFF)};
  return WriteRegValue(root, subkey, name, platform::kRegDword, bytes, 4);
}

// A REG_SZ with its terminating NUL.
inline bool WriteRegText(platform::RegRoot root, const std::string& subkey, const std::string& name,
                         const std::string& text) {
  return WriteRegValue(root, subkey, name, platform::kRegSz, text.c_str(),
                       static_cast<uint32_t>(text.size() + 1));
}

}  // namespace obxtest
