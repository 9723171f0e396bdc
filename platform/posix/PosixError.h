#pragma once
// The one translation of errno values into the Windows error codes that the
// platform's callers expect.

namespace platform {

// The Windows code for an errno value (kErrorGenFailure for one without a
// closer match).
long WindowsErrorFromErrno(int error);

}  // namespace platform
