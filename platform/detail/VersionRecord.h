#pragma once
// For the platform's own sources: the version record as Windows keeps it in
// the registry (kCurrentVersionKey, kProductOptionsKey), the whole record on
// Linux and the one a state root states on Windows.
#include <cstdint>

#include "platform/SystemInfo.h"

namespace platform {

// GetVersionExA from the registry values: see SystemInfo.h for the rules.
bool VersionRecordFromRegistry(OsVersionInfoEx* info);

// GetVersion's packing of a record: major, minor, build, no 9x bit.
uint32_t PackVersion(const OsVersionInfoEx& info);

}  // namespace platform
