#pragma once
// The wall time as each system reads it; the rest of the machine's clock
// (monotonic time, interruptible sleeps) is the same everywhere.
#include <cstdint>

#include "platform/Clock.h"

namespace platform {
namespace detail {

// Milliseconds since 1970-01-01 00:00:00 UTC.
int64_t SystemUnixTimeMs();
// The wall time in the machine's local time zone.
LocalTime SystemLocalTime();

}  // namespace detail
}  // namespace platform
