#include "platform/WinError.h"
#include "platform/detail/SystemErrorText.h"

namespace platform {

std::string ErrorText(long code) {
  switch (code) {
    case kErrorSuccess:
      return "success";
    case kErrorInvalidFunction:
      return "operation not supported";
    case kErrorFileNotFound:
      return "no such file";
    case kErrorPathNotFound:
      return "no such folder";
    case kErrorTooManyOpenFiles:
      return "too many open files";
    case kErrorAccessDenied:
      return "permission denied";
    case kErrorInvalidHandle:
      return "invalid handle";
    case kErrorNotEnoughMemory:
      return "out of memory";
    case kErrorWriteProtect:
      return "read-only file system";
    case kErrorGenFailure:
      return "input/output error";
    case kErrorSharingViolation:
      return "file in use";
    case kErrorLockViolation:
      return "file locked";
    case kErrorHandleDiskFull:
    case kErrorDiskFull:
      return "disk full";
    case kErrorFileExists:
    case kErrorAlreadyExists:
      return "already exists";
    case kErrorInvalidParameter:
      return "invalid argument";
    case kErrorBrokenPipe:
      return "broken pipe";
    case kErrorBufferOverflow:
      return "name too long";
    case kErrorMoreData:
      return "more data than the buffer holds";
    case kErrorDirNotEmpty:
      return "folder not empty";
    case kErrorBadPathName:
      return "invalid path";
    case kErrorBadExeFormat:
      return "not a program this system can run";
    case kErrorFilenameExcedRange:
      return "file name too long";
    case kErrorDirectory:
      return "is a folder";
    case kErrorRegistryIo:
      return "registry file unreadable or unwritable";
    case kErrorKeyDeleted:
      return "key deleted meanwhile";
    case kErrorNoUnicodeTranslation:
      return "text not valid in the code page";
    default: {
      std::string words = SystemErrorText(code);
      return words.empty() ? "error " + std::to_string(code) : words;
    }
  }
}

}  // namespace platform
