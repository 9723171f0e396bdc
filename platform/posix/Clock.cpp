#include "platform/Clock.h"

#include <time.h>

#include <chrono>

namespace platform {
namespace {

class PosixClock : public Clock {
 public:
  int64_t UnixTimeMs() const override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  }

  LocalTime Local() const override {
    int64_t ms = UnixTimeMs();
    time_t seconds = static_cast<time_t>(ms / 1000);
    struct tm parts {};
    localtime_r(&seconds, &parts);
    LocalTime local;
    local.year = parts.tm_year + 1900;
    local.month = parts.tm_mon + 1;
    local.dayOfWeek = parts.tm_wday;
    local.day = parts.tm_mday;
    local.hour = parts.tm_hour;
    local.minute = parts.tm_min;
    local.second = parts.tm_sec;
    local.milliseconds = static_cast<int>(ms % 1000);
    return local;
  }

  uint64_t MonotonicMs() const override {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }

  bool Sleep(uint32_t ms, const StopToken& stop) override { return stop.WaitFor(ms); }
};

}  // namespace

Clock& SystemClock() {
  static PosixClock clock;
  return clock;
}

}  // namespace platform
