#include "platform/StateRootLock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempStateRoot.h"

namespace {

using platform::StateRootLock;

TEST(StateRootLock, OneOwnerAtATimeAndNoneInheritedByItsPrograms) {
  obxtest::TempStateRoot root;
  StateRootLock first;
  StateRootLock second;
  ASSERT_EQ(StateRootLock::kAcquired, first.Acquire(root.Path())) << first.error();
  EXPECT_EQ(StateRootLock::kHeldElsewhere, second.Acquire(root.Path()));
  EXPECT_EQ(getpid(), second.owner());

  // A program started by the owner outlives it and must not keep the root locked.
  pid_t child = obxtest::StartChild("/bin/sleep", {"30"}, root.Sub("out"), root.Sub("err"));
  ASSERT_GT(child, 0);
  first.Release();
  // Until the child has started its program, the copy its fork made still
  // holds the lock; the exec closes it.
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  StateRootLock::Result result;
  while ((result = second.Acquire(root.Path())) != StateRootLock::kAcquired &&
         std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(StateRootLock::kAcquired, result);
  kill(child, SIGKILL);
  obxtest::WaitChild(child);
}

}  // namespace
