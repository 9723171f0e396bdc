#include "platform/ThisProcess.h"

#include <limits.h>
#include <string.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace platform {

namespace {

// ThreadSanitizer's runtime keeps a thread of its own from the first thread
// made on; it is nobody's to stop.
#if defined(__SANITIZE_THREAD__)
constexpr int kSanitizerThreads = 1;
#else
constexpr int kSanitizerThreads = 0;
#endif

}  // namespace

std::string ExecutablePath(const std::string& fallback) {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n > 0) return std::string(buffer, static_cast<size_t>(n));
  return fallback;
}

int ProcessId() { return static_cast<int>(getpid()); }

bool ChangeDirectory(const std::string& path, std::string* error) {
  if (chdir(path.c_str()) == 0) return true;
  if (error) *error = strerror(errno);
  return false;
}

std::string LastErrorText() { return strerror(errno); }

int OtherThreads() {
  int n = 0;
  std::error_code ec;
  for (std::filesystem::directory_iterator it("/proc/self/task", ec), end; !ec && it != end;
       it.increment(ec))
    ++n;
  return n > 1 + kSanitizerThreads ? n - 1 - kSanitizerThreads : 0;
}

}  // namespace platform
