#pragma once
// Helpers shared by the system information tests: the version record and
// language values in the registry.
#include <cstdlib>
#include <string>

#include "foundation/SettingsStore.h"
#include "platform/Registry.h"
#include "platform/SystemInfo.h"
#include "tests/support/RegistryValues.h"
#include "tests/support/ScopedEnv.h"

namespace obxtest {

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

using obxtest::WriteRegDword;

}  // namespace obxtest
