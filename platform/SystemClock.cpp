// The machine's clock: the system's wall time, std::chrono's steady clock for
// intervals, and sleeps that end on the quit request.
#include <chrono>

#include "platform/Clock.h"
#include "platform/detail/SystemTime.h"

namespace platform {
namespace {

class MachineClock : public Clock {
 public:
  int64_t UnixTimeMs() const override { return detail::SystemUnixTimeMs(); }
  LocalTime Local() const override { return detail::SystemLocalTime(); }

  // Monotonic on every supported system: CLOCK_MONOTONIC on Linux, the
  // performance counter on Windows (GetTickCount64 is newer than the oldest).
  uint64_t MonotonicMs() const override {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }

  bool Sleep(uint32_t ms, const StopToken& stop) override { return stop.WaitFor(ms); }
};

}  // namespace

Clock& SystemClock() {
  static MachineClock clock;
  return clock;
}

}  // namespace platform
