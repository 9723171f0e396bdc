// The version record on Linux is the one Windows keeps in the registry.
#include <cstring>

#include "platform/SystemInfo.h"
#include "platform/detail/VersionRecord.h"

namespace platform {

bool GetVersionExA(OsVersionInfoEx* info) { return VersionRecordFromRegistry(info); }

uint32_t GetVersion() {
  OsVersionInfoEx info;
  std::memset(&info, 0, sizeof(info));
  info.osVersionInfoSize = kOsVersionInfoSize;
  return GetVersionExA(&info) ? PackVersion(info) : 0;
}

}  // namespace platform
