#include "platform/WritableFile.h"

#include <windows.h>

#include "platform/StateRoot.h"

namespace platform {
namespace {

long LastError() { return static_cast<long>(GetLastError()); }

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

WritableFile::~WritableFile() { Close(); }

long WritableFile::Open(const std::string& path) {
  Close();
  // Others may read the file meanwhile, not write it. A reparse point (a
  // link) is opened as itself and refused below rather than followed.
  HANDLE file =
      CreateFileA(NativePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) {
    const long error = LastError();
    CloseHandle(file);
    return error;
  }
  if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
      GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return kErrorAccessDenied;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  size_ = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return kErrorSuccess;
}

long WritableFile::Truncate(uint64_t size) {
  if (handle_ == -1) return kErrorInvalidHandle;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFilePointerEx(AsHandle(handle_), at, nullptr, FILE_BEGIN) ||
      !SetEndOfFile(AsHandle(handle_)))
    return LastError();
  return kErrorSuccess;
}

long WritableFile::Write(const void* data, size_t size) {
  if (handle_ == -1) return kErrorInvalidHandle;
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const size_t left = size - done;
    const DWORD want = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    DWORD wrote = 0;
    if (!WriteFile(AsHandle(handle_), bytes + done, want, &wrote, nullptr)) return LastError();
    if (wrote == 0) return kErrorGenFailure;
    done += wrote;
  }
  return kErrorSuccess;
}

long WritableFile::Flush() {
  if (handle_ == -1) return kErrorInvalidHandle;
  return FlushFileBuffers(AsHandle(handle_)) ? kErrorSuccess : LastError();
}

long WritableFile::Close() {
  if (handle_ == -1) return kErrorSuccess;
  HANDLE file = AsHandle(handle_);
  handle_ = -1;
  size_ = 0;
  return CloseHandle(file) ? kErrorSuccess : LastError();
}

// A rename on NTFS is journalled with the folder; there is nothing to flush.
void FlushFolderOf(const std::string&) {}

}  // namespace platform
