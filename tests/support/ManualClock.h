#pragma once
// A clock for tests: time stands still until the test moves it, and a Sleep
// moves it by the slept length at once instead of blocking.
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/Clock.h"

namespace obxtest {

class ManualClock : public platform::Clock {
 public:
  // Starts at `unixTimeMs` (default 2024-01-01 00:00:00 UTC) with local time
  // equal to UTC plus `utcOffsetMinutes`.
  explicit ManualClock(int64_t unixTimeMs = 1704067200000LL, int utcOffsetMinutes = 0);

  int64_t UnixTimeMs() const override;
  platform::LocalTime Local() const override;
  uint64_t MonotonicMs() const override;
  // Returns false at once when `stop` is already requested. Otherwise records
  // the length, advances both clocks by it (kInfinite advances nothing), calls
  // the sleep hook (outside the clock's lock) and returns whether `stop` is
  // still unrequested. Never blocks; kInfinite, which cannot be simulated,
  // returns false after the hook as if the request had ended it.
  bool Sleep(uint32_t ms, const platform::StopToken& stop) override;

  // Sets the wall time so that Local() gives `local` (milliseconds and the day
  // of week are worked out from the date).
  void SetLocal(const platform::LocalTime& local);
  void SetUnixTimeMs(int64_t unixTimeMs);
  // Moves wall and monotonic time forward.
  void Advance(uint64_t ms);
  // Called with each slept length, on the sleeping thread; a test may make the
  // quit request from here to end a loop after a chosen number of pauses.
  void SetSleepHook(std::function<void(uint32_t)> hook);
  // Every length passed to Sleep, in order.
  std::vector<uint32_t> Sleeps() const;

 private:
  mutable std::mutex mutex_;
  int64_t unixMs_;
  int utcOffsetMinutes_;
  uint64_t monotonicMs_ = 0;
  std::vector<uint32_t> sleeps_;
  std::function<void(uint32_t)> hook_;
};

}  // namespace obxtest
