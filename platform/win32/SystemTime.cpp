#include "platform/detail/SystemTime.h"

#include "platform/win32/Windows.h"

namespace platform {
namespace detail {
namespace {

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpochInFileTime = 116444736000000000LL;

}  // namespace

// The system's own wall clock, read the same way on every supported version.
int64_t SystemUnixTimeMs() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  const int64_t ticks =
      static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
  return (ticks - kUnixEpochInFileTime) / 10000;
}

LocalTime SystemLocalTime() {
  SYSTEMTIME parts;
  ::GetLocalTime(&parts);
  LocalTime local;
  local.year = parts.wYear;
  local.month = parts.wMonth;
  local.dayOfWeek = parts.wDayOfWeek;
  local.day = parts.wDay;
  local.hour = parts.wHour;
  local.minute = parts.wMinute;
  local.second = parts.wSecond;
  local.milliseconds = parts.wMilliseconds;
  return local;
}

}  // namespace detail
}  // namespace platform
