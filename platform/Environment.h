#pragma once
// The process's environment variables. Not thread-safe against other threads
// reading or changing the environment at the same time.
#include "platform/Export.h"

namespace platform {

// Sets `name` to `value`, or removes it when `value` is null. False when the
// system refused.
PLATFORM_EXPORT bool SetEnvironmentValue(const char* name, const char* value);

}  // namespace platform
