#include "platform/Clock.h"

#include <chrono>

#include "platform/win32/Windows.h"

namespace platform {
namespace {

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpochInFileTime = 116444736000000000LL;

class WindowsClock : public Clock {
 public:
  int64_t UnixTimeMs() const override {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    const int64_t ticks =
        static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    return (ticks - kUnixEpochInFileTime) / 10000;
  }

  LocalTime Local() const override {
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

  // The performance counter underneath: monotonic, and on every supported
  // system (GetTickCount64 is newer than the oldest of them).
  uint64_t MonotonicMs() const override {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }

  bool Sleep(uint32_t ms, const StopToken& stop) override { return stop.WaitFor(ms); }
};

}  // namespace

Clock& SystemClock() {
  static WindowsClock clock;
  return clock;
}

}  // namespace platform
