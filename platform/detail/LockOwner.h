#pragma once
// The state-root lock file: its name, and the owner's process id that the
// holder writes into it for whoever is refused.
#include <cstddef>

namespace platform {
namespace detail {

constexpr char kLockFileName[] = "orsa-host.lock";

// The id in the first `size` bytes of the lock file: digits ending in a line
// break. Anything else (the owner is between truncating and writing) tells
// nothing: 0.
long ParseLockOwner(const char* text, size_t size);

}  // namespace detail
}  // namespace platform
