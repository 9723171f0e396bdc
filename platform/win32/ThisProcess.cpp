#include "platform/ThisProcess.h"

#include "platform/win32/Windows.h"
// These build on <windows.h>, which must come first.
#include <tlhelp32.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/detail/SystemErrorText.h"

namespace platform {

namespace {

std::vector<DWORD> ThreadsOfThisProcess() {
  std::vector<DWORD> ids;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  THREADENTRY32 entry;
  entry.dwSize = sizeof entry;
  const DWORD self = ::GetCurrentProcessId();
  for (BOOL more = ::Thread32First(snapshot, &entry); more;
       more = ::Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == self) ids.push_back(entry.th32ThreadID);
    entry.dwSize = sizeof entry;
  }
  ::CloseHandle(snapshot);
  std::sort(ids.begin(), ids.end());
  return ids;
}

std::string ErrorWords(DWORD code) {
  std::string text = SystemErrorText(static_cast<long>(code));
  return text.empty() ? "error " + std::to_string(code) : text;
}

}  // namespace

std::string ExecutablePath(const std::string& fallback) {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    DWORD n = ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return fallback;
    if (n < buffer.size()) return std::string(buffer.data(), n);
    if (buffer.size() >= 32768) return fallback;
    buffer.resize(buffer.size() * 2);
  }
}

int ProcessId() { return static_cast<int>(::GetCurrentProcessId()); }

bool ChangeDirectory(const std::string& path, std::string* error) {
  if (::SetCurrentDirectoryA(path.c_str())) return true;
  if (error) *error = ErrorWords(::GetLastError());
  return false;
}

std::string LastErrorText() { return ErrorWords(::GetLastError()); }

int OtherThreads() {
  static std::once_flag once;
  static std::vector<DWORD> before;
  std::call_once(once, [] { before = ThreadsOfThisProcess(); });
  const DWORD self = ::GetCurrentThreadId();
  int n = 0;
  for (DWORD id : ThreadsOfThisProcess())
    if (id != self && !std::binary_search(before.begin(), before.end(), id)) ++n;
  return n;
}

}  // namespace platform
