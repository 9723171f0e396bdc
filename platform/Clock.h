#pragma once
// The one clock of the component: wall time for hour windows, timestamps and
// random seeds; monotonic time for waits and time-outs. Tests install a
// ManualClock (tests/support/ManualClock.h) to set the time and to make waits
// return at once.
#include <cstdint>
#include <string>

#include "platform/Export.h"
#include "platform/StopToken.h"

namespace platform {

// Local wall time, field by field (month 1-12, dayOfWeek 0 = Sunday).
struct LocalTime {
  int year = 1970;
  int month = 1;
  int dayOfWeek = 4;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
};

class PLATFORM_EXPORT Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since 1970-01-01 00:00:00 UTC.
  virtual int64_t UnixTimeMs() const = 0;
  // The wall time in the machine's local time zone.
  virtual LocalTime Local() const = 0;
  // Milliseconds since some fixed point; only differences mean anything.
  virtual uint64_t MonotonicMs() const = 0;
  // Lets `ms` pass on this clock unless `stop` is requested first. True when the
  // whole time passed, false when the request cut it short (or was already made).
  // kInfinite lasts until the request. Thread-safe.
  virtual bool Sleep(uint32_t ms, const StopToken& stop) = 0;
};

// The machine's clock.
PLATFORM_EXPORT Clock& SystemClock();

// The clock every component read goes through: the one a test installed, else
// SystemClock().
PLATFORM_EXPORT Clock& CurrentClock();

// Installs `clock` for the whole process (null restores the system clock). The
// caller keeps ownership and must keep it alive until it is replaced; install
// before starting threads that read it.
PLATFORM_EXPORT void SetClockForTest(Clock* clock);

// Shorthands over CurrentClock().
inline int64_t UnixTimeSeconds() { return CurrentClock().UnixTimeMs() / 1000; }
inline LocalTime GetLocalTime() { return CurrentClock().Local(); }
inline uint64_t MonotonicMs() { return CurrentClock().MonotonicMs(); }

// `t` written with a printf format that takes year, month, day, hour, minute
// and second as six ints, in that order (e.g. "%04d-%02d-%02d %02d:%02d:%02d").
PLATFORM_EXPORT std::string FormatLocalTime(const LocalTime& t, const char* format);

}  // namespace platform
