#pragma once
// For the platform's own sources: the system's own wording of an error code
// that ErrorText has no words for.
#include <string>

namespace platform {

// In lower case without a closing full stop; "" when the system has none
// (always on POSIX, whose codes are not Windows codes).
std::string SystemErrorText(long code);

}  // namespace platform
