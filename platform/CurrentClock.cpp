// The clock the process reads: the system's, or one a test put in its place.
#include <atomic>

#include "platform/Clock.h"

namespace platform {
namespace {

std::atomic<Clock*> g_testClock{nullptr};

}  // namespace

Clock& CurrentClock() {
  Clock* clock = g_testClock.load(std::memory_order_acquire);
  return clock ? *clock : SystemClock();
}

void SetClockForTest(Clock* clock) { g_testClock.store(clock, std::memory_order_release); }

}  // namespace platform
