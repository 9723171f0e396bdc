#pragma once
// Helpers shared by the system information tests: environment variables set
// for one scope, and the version record and language values in the registry.
#include <cstdlib>
#include <string>

#include "foundation/SettingsStore.h"
#include "platform/Registry.h"
#include "platform/SystemInfo.h"

namespace obxtest {

// Sets (or, with null, removes) one environment variable and restores it.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (had_) {
      setenv(name_.c_str(), old_.c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool had_ = false;
};

// Writes the version record the way Windows keeps it; an empty text leaves
// that value out.
inline void WriteVersionRecord(const std::string& version, const std::string& productType,
                               const std::string& csdVersion, const std::string& build = "") {
  if (!version.empty())
    obx::WriteRegString(obx::HKLM, platform::kCurrentVersionKey, "CurrentVersion", version);
  if (!productType.empty())
    obx::WriteRegString(obx::HKLM, platform::kProductOptionsKey, "ProductType", productType);
  if (!csdVersion.empty())
    obx::WriteRegString(obx::HKLM, platform::kCurrentVersionKey, "CSDVersion", csdVersion);
  if (!build.empty())
    obx::WriteRegString(obx::HKLM, platform::kCurrentVersionKey, "CurrentBuildNumber", build);
}

// Stores a REG_DWORD value, creating the key.
inline bool WriteRegDword(platform::RegRoot root, const std::string& subkey,
                          const std::string& name, uint32_t value) {
  platform::RegKey key = nullptr;
  if (platform::RegCreateKeyEx(root, subkey, platform::kKeyAllAccess, &key) !=
      platform::kErrorSuccess)
    return false;
  unsigned char bytes[4] = {static_cast<unsigned char>(value & 0xFF),
                            static_cast<unsigned char>((value >> 8) & 0xFF),
                            static_cast<unsigned char>((value >> 16) & 0xFF),
                            static_cast<unsigned char>((value >> 24) & 0xFF)};
  bool ok = platform::RegSetValueEx(key, name, platform::kRegDword, bytes, 4) ==
            platform::kErrorSuccess;
  platform::RegCloseKey(key);
  return ok;
}

}  // namespace obxtest
