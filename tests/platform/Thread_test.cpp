// The worker thread, its quit request and the clock the waits go through.
#include "platform/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/StopToken.h"
#include "tests/support/ManualClock.h"

namespace {

TEST(StopToken, RequestEndsWaitsAtOnceAndForever) {
  platform::StopSource source;
  platform::StopToken token = source.Token();
  EXPECT_TRUE(token.Stoppable());
  EXPECT_FALSE(token.StopRequested());
  EXPECT_TRUE(token.WaitFor(0));

  std::promise<bool> result;
  std::thread waiter([&] { result.set_value(token.WaitFor(platform::kInfinite)); });
  source.RequestStop();
  EXPECT_FALSE(result.get_future().get());
  waiter.join();

  EXPECT_TRUE(token.StopRequested());
  EXPECT_TRUE(source.StopRequested());
  EXPECT_FALSE(token.WaitFor(3600000));  // already requested: no wait at all
  source.RequestStop();                  // twice is harmless
}

TEST(StopToken, EventHandleIsSignalledWithTheRequest) {
  platform::StopSource early;
  platform::WaitHandle handle = early.Token().WaitEvent();
  ASSERT_NE(platform::kNoWaitHandle, handle);
  EXPECT_EQ(handle, early.Token().WaitEvent());  // one per request
  EXPECT_FALSE(platform::WaitHandleSignalled(handle));
  early.RequestStop();
  EXPECT_TRUE(platform::WaitHandleSignalled(handle));

  platform::StopSource late;
  late.RequestStop();
  platform::WaitHandle lateHandle = late.Token().WaitEvent();  // made after the request: signalled
  ASSERT_NE(platform::kNoWaitHandle, lateHandle);
  EXPECT_TRUE(platform::WaitHandleSignalled(lateHandle));
}

TEST(StopToken, NeverStoppedTokenRefusesAnEndlessWait) {
  platform::StopToken none;
  EXPECT_FALSE(none.Stoppable());
  EXPECT_FALSE(none.StopRequested());
  EXPECT_EQ(platform::kNoWaitHandle, none.WaitEvent());
  EXPECT_FALSE(platform::WaitHandleSignalled(platform::kNoWaitHandle));
  EXPECT_FALSE(none.WaitFor(platform::kInfinite));
  EXPECT_TRUE(none.WaitFor(1));
}

TEST(StopToken, ScopedTokenIsCurrentOnlyInsideItsScope) {
  EXPECT_FALSE(platform::CurrentStopToken().Stoppable());
  platform::StopSource outer;
  platform::StopSource inner;
  inner.RequestStop();
  {
    platform::ScopedStopToken a(outer.Token());
    EXPECT_FALSE(platform::QuitRequested());
    {
      platform::ScopedStopToken b(inner.Token());
      EXPECT_TRUE(platform::QuitRequested());
      EXPECT_FALSE(platform::WaitFor(10));
    }
    EXPECT_FALSE(platform::QuitRequested());
    EXPECT_TRUE(platform::CurrentStopToken().Stoppable());
  }
  EXPECT_FALSE(platform::CurrentStopToken().Stoppable());
  EXPECT_FALSE(platform::WaitFor(platform::kInfinite));  // no token: refused, not hung
}

TEST(ManualClock, WaitsGoThroughTheInstalledClockWithoutBlocking) {
  obxtest::ManualClock clock;
  platform::SetClockForTest(&clock);
  uint64_t startMonotonic = platform::MonotonicMs();
  int64_t startWall = platform::UnixTimeSeconds();
  platform::StopSource source;
  std::vector<uint32_t> hooked;
  clock.SetSleepHook([&](uint32_t ms) {
    hooked.push_back(ms);
    if (hooked.size() == 2) source.RequestStop();
  });
  {
    platform::ScopedStopToken current(source.Token());
    EXPECT_TRUE(platform::WaitFor(86405000));
    EXPECT_FALSE(platform::WaitFor(5000));  // the request came during this one
    EXPECT_FALSE(platform::WaitFor(5000));  // already requested: not even recorded
  }
  platform::SetClockForTest(nullptr);
  EXPECT_EQ((std::vector<uint32_t>{86405000u, 5000u}), clock.Sleeps());
  EXPECT_EQ(hooked, clock.Sleeps());
  EXPECT_EQ(startMonotonic + 86410000u, clock.MonotonicMs());
  EXPECT_EQ(startWall + 86410, clock.UnixTimeMs() / 1000);
  EXPECT_EQ(&platform::SystemClock(), &platform::CurrentClock());
}

TEST(ManualClock, LocalTimeFollowsTheDateAndTheOffset) {
  // LocalTime fields: year, month, dayOfWeek, day, hour, minute, second, ms.
  struct Case {
    int utcOffsetMinutes;
    platform::LocalTime local;
  };
  const Case cases[] = {
      {0, {2024, 1, 1, 1, 0, 0, 0, 0}},          // a Monday
      {480, {2024, 2, 4, 29, 23, 59, 58, 999}},  // leap day, a Thursday
      {-300, {1999, 12, 5, 31, 7, 30, 0, 0}},    // a Friday
      {0, {2038, 1, 2, 19, 3, 14, 8, 0}},        // past 32-bit seconds, a Tuesday
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.local.year);
    obxtest::ManualClock clock(0, c.utcOffsetMinutes);
    clock.SetLocal(c.local);
    platform::LocalTime got = clock.Local();
    EXPECT_EQ(c.local.year, got.year);
    EXPECT_EQ(c.local.month, got.month);
    EXPECT_EQ(c.local.day, got.day);
    EXPECT_EQ(c.local.dayOfWeek, got.dayOfWeek);
    EXPECT_EQ(c.local.hour, got.hour);
    EXPECT_EQ(c.local.minute, got.minute);
    EXPECT_EQ(c.local.second, got.second);
    EXPECT_EQ(c.local.milliseconds, got.milliseconds);
  }
  obxtest::ManualClock eastern(0, 480);
  EXPECT_EQ(8, eastern.Local().hour);  // 1970-01-01 00:00 UTC
  eastern.Advance(16 * 3600000ULL);
  EXPECT_EQ(0, eastern.Local().hour);
  EXPECT_EQ(2, eastern.Local().day);
  EXPECT_EQ(16 * 3600000ULL, eastern.MonotonicMs());
  obxtest::ManualClock newYear;
  EXPECT_EQ(1704067200000LL, newYear.UnixTimeMs());
  EXPECT_EQ(2024, newYear.Local().year);
}

TEST(WorkerThread, RoutineRunsWithItsQuitRequestAsTheCurrentToken) {
  platform::Thread thread;
  EXPECT_EQ(0u, thread.Id());
  EXPECT_TRUE(thread.Join(0));  // nothing to wait for
  std::promise<void> running;
  std::atomic<bool> stoppable{false};
  ASSERT_TRUE(thread.Start([&]() -> uint32_t {
    stoppable = platform::CurrentStopToken().Stoppable();
    running.set_value();
    // Ends only through the request: the system clock's endless wait.
    return platform::WaitFor(platform::kInfinite) ? 1u : 7u;
  }));
  EXPECT_TRUE(thread.Started());
  EXPECT_NE(0u, thread.Id());
  EXPECT_FALSE(thread.Start([] { return 0u; }));  // one routine per object
  running.get_future().wait();
  EXPECT_TRUE(stoppable.load());
  EXPECT_FALSE(thread.Join(0));
  thread.RequestQuit();
  EXPECT_TRUE(thread.Join(platform::kInfinite));
  EXPECT_TRUE(thread.Ended());
  EXPECT_EQ(7u, thread.ExitCode());
  EXPECT_FALSE(platform::CurrentStopToken().Stoppable());  // not leaked to this thread
}

TEST(WorkerThread, ExceptionEndsTheRoutineWithoutLeavingTheThread) {
  platform::Thread thread;
  ASSERT_TRUE(thread.Start([]() -> uint32_t { throw std::runtime_error("escaped"); }));
  EXPECT_TRUE(thread.Join(platform::kInfinite));
  // A copy: a constant of a class imported from a DLL has no address to bind to.
  const uint32_t byException = platform::Thread::kExitByException;
  EXPECT_EQ(byException, thread.ExitCode());
}

TEST(WorkerThread, AbandonedThreadRunsOnUntilItsNextWait) {
  std::promise<void> entered;
  std::promise<void> release;
  std::atomic<int> waitResult{-1};
  std::atomic<bool> ranPast{false};
  {
    platform::Thread thread;
    ASSERT_TRUE(thread.Start([&]() -> uint32_t {
      entered.set_value();
      release.get_future().wait();  // busy elsewhere, deaf to the request
      waitResult = platform::WaitFor(3600000) ? 1 : 0;
      ranPast = true;
      return 0;
    }));
    entered.get_future().wait();
    EXPECT_FALSE(thread.Join(10));
    thread.Abandon();
    EXPECT_FALSE(thread.Started());
    EXPECT_EQ(1, platform::AbandonedThreadsRunning());
  }
  release.set_value();
  EXPECT_TRUE(platform::WaitForAbandonedThreads(30000));
  EXPECT_EQ(0, platform::AbandonedThreadsRunning());
  EXPECT_TRUE(ranPast.load());
  EXPECT_EQ(0, waitResult.load());  // the hour-long wait ended at once
}

TEST(WorkerThread, DestroyingARunningThreadAsksItToQuitAndLetsGo) {
  std::promise<void> running;
  std::atomic<bool> sawQuit{false};
  {
    platform::Thread thread;
    ASSERT_TRUE(thread.Start([&]() -> uint32_t {
      running.set_value();
      sawQuit = !platform::WaitFor(platform::kInfinite);
      return 0;
    }));
    running.get_future().wait();
  }
  EXPECT_TRUE(platform::WaitForAbandonedThreads(30000));
  EXPECT_TRUE(sawQuit.load());
}

}  // namespace
