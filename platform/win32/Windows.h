#pragma once
// <windows.h> as the platform's Windows sources include it: the smaller
// header set, no min/max macros, and the API of the oldest system supported
// (set by the build through _WIN32_WINNT).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

namespace platform {
namespace win32 {

// GetLastError() as the platform reports codes.
inline long LastError() { return static_cast<long>(::GetLastError()); }

// Closes a kernel handle when it goes out of scope.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle = nullptr) : handle_(handle) {}
  ~ScopedHandle() {
    if (valid()) ::CloseHandle(handle_);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// The value of an environment variable of the process ("" when unset). Reads
// the process environment itself, which SetEnvironmentVariable and _putenv
// both change.
std::string EnvironmentValue(const char* name);

// The state root whose registry is its own: ORSA_ROOT, unless
// ORSA_MACHINE_REGISTRY is set as well; "" for the machine's registry.
std::string PrivateRegistryRoot();

}  // namespace win32
}  // namespace platform
