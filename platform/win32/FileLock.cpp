#include "platform/detail/FileLock.h"

#include "platform/win32/Windows.h"

namespace platform {

FileLock::FileLock(const std::string& nativePath) {
  HANDLE file = ::CreateFileA(nativePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  OVERLAPPED at = {};
  // Blocks until the other holder is done: each holds it for one short
  // read-modify-write of a small file.
  if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
    ::CloseHandle(file);
    return;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
}

FileLock::~FileLock() {
  if (handle_ == -1) return;
  // Closing the handle releases its locks as well.
  ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

}  // namespace platform
