#include "platform/detail/SystemTime.h"

#include <time.h>

#include <chrono>

namespace platform {
namespace detail {

int64_t SystemUnixTimeMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

LocalTime SystemLocalTime() {
  const int64_t ms = SystemUnixTimeMs();
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

}  // namespace detail
}  // namespace platform
