#include "platform/posix/PosixError.h"

#include <cerrno>

#include "platform/WinError.h"

namespace platform {

long WindowsErrorFromErrno(int error) {
  switch (error) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
      return kErrorAccessDenied;
    case EROFS:
      return kErrorWriteProtect;
    case EBADF:
      return kErrorInvalidHandle;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
      return kErrorDiskFull;
    case EEXIST:
      return kErrorAlreadyExists;
    case ENOTEMPTY:
      return kErrorDirNotEmpty;
    case ENAMETOOLONG:
      return kErrorFilenameExcedRange;
    case EINVAL:
      return kErrorInvalidParameter;
    case EWOULDBLOCK:
      return kErrorSharingViolation;
    case EPIPE:
      return kErrorBrokenPipe;
    case ENOEXEC:
      return kErrorBadExeFormat;
    default:
      return kErrorGenFailure;
  }
}

}  // namespace platform
