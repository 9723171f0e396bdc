#include "platform/detail/LockOwner.h"

namespace platform {
namespace detail {

long ParseLockOwner(const char* text, size_t size) {
  if (size < 2 || text[size - 1] != '\n') return 0;
  long pid = 0;
  for (size_t i = 0; i + 1 < size; ++i) {
    if (text[i] < '0' || text[i] > '9' || pid > 100000000) return 0;
    pid = pid * 10 + (text[i] - '0');
  }
  return pid;
}

}  // namespace detail
}  // namespace platform
