#include "platform/StateRootLock.h"

#include <string>

#include "platform/WinError.h"
#include "platform/detail/LockOwner.h"
#include "platform/win32/Windows.h"

namespace platform {

namespace {

// The id the owner wrote, 0 when it cannot be told.
long ReadOwner(const std::string& path) {
  // The owner lets others read, and we let it keep writing.
  win32::ScopedHandle file(::CreateFileA(path.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return 0;
  char text[32];
  DWORD n = 0;
  if (!::ReadFile(file.get(), text, sizeof text, &n, nullptr)) return 0;
  return detail::ParseLockOwner(text, n);
}

}  // namespace

StateRootLock::~StateRootLock() { Release(); }

StateRootLock::Result StateRootLock::Acquire(const std::string& root) {
  Release();
  owner_ = 0;
  error_.clear();
  const std::string path = root + "\\" + detail::kLockFileName;
  // The claim is the open file itself: write access shared with nobody. A
  // second opener for writing, in this process or another, is refused with a
  // sharing violation; the system closes the handle when the process ends,
  // and the handle is not inheritable, so a started program never holds it.
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const long error = win32::LastError();
    if (error == kErrorSharingViolation) {
      owner_ = ReadOwner(path);
      return kHeldElsewhere;
    }
    error_ = path + ": " + ErrorText(error);
    return kFailed;
  }
  // Only the message of a refused process needs the id; the claim holds without it.
  const std::string pid = std::to_string(::GetCurrentProcessId()) + "\n";
  DWORD written = 0;
  if (::SetEndOfFile(file))
    ::WriteFile(file, pid.data(), static_cast<DWORD>(pid.size()), &written, nullptr);
  handle_ = reinterpret_cast<intptr_t>(file);
  return kAcquired;
}

void StateRootLock::Release() {
  if (handle_ == -1) return;
  ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

}  // namespace platform
