#pragma once
// The Windows error codes the platform reports and the component expects.
// Every platform call that fails answers one of these (or sets it as its
// error), whatever the system underneath; the POSIX implementation translates
// errno into them in one place (posix/PosixError.h).
#include <string>

#include "platform/Export.h"

namespace platform {

enum : long {
  kErrorSuccess = 0,
  kErrorInvalidFunction = 1,
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorTooManyOpenFiles = 4,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorNotEnoughMemory = 8,
  kErrorWriteProtect = 19,
  kErrorGenFailure = 31,
  kErrorSharingViolation = 32,
  kErrorLockViolation = 33,
  kErrorHandleDiskFull = 39,
  kErrorFileExists = 80,
  kErrorInvalidParameter = 87,
  kErrorBrokenPipe = 109,
  kErrorBufferOverflow = 111,
  kErrorDiskFull = 112,
  kErrorDirNotEmpty = 145,
  kErrorBadPathName = 161,
  kErrorAlreadyExists = 183,
  kErrorBadExeFormat = 193,  // not a program the system can run
  kErrorFilenameExcedRange = 206,
  kErrorMoreData = 234,
  kErrorDirectory = 267,
  kErrorRegistryIo = 1016,
  kErrorKeyDeleted = 1018,  // the key was deleted after this handle opened it
  kErrorNoUnicodeTranslation = 1113,
};

// The reason a code stands for, in a few lower-case words ("access denied",
// "disk full"), for messages read by people; on Windows the system's own
// words for a code not listed above (FormatMessageA); "error N" for a code
// without any.
PLATFORM_EXPORT std::string ErrorText(long code);

}  // namespace platform
