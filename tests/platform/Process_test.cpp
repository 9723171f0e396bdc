// Starting programs: Windows command lines, what the child inherits, waits
// that end on time, on the child's end or on the quit request, and no zombie.
#include "platform/Process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/StopToken.h"
#include "tests/support/TempStateRoot.h"

namespace {

using platform::Process;
using platform::WaitResult;

// 'Z' for a zombie, 0 when the process is gone altogether.
char ProcessState(int pid) {
  const std::string stat = obxtest::ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t paren = stat.rfind(')');
  return paren == std::string::npos || paren + 2 >= stat.size() ? 0 : stat[paren + 2];
}

bool GoneWithin20s(int pid) {
  for (int i = 0; i < 1000 && ProcessState(pid) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return ProcessState(pid) == 0;
}

TEST(SplitCommandLine, FollowsTheWindowsRules) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"", {}},
      {"C:\\upd\\kb1.exe 12 /q", {"C:\\upd\\kb1.exe", "12", "/q"}},
      {"C:\\my dir\\b.exe 7", {"C:\\my", "dir\\b.exe", "7"}},
      {"\"C:\\dir\\\" x", {"C:\\dir\\", "x"}},  // no escapes in the program
      {"p  a\t\"b c\" \"\"  ", {"p", "a", "b c", ""}},
      {"p a\\\\\\\"b", {"p", "a\\\"b"}},    // 2n+1 backslashes: n and a quote
      {"p a\\\\\"b c\"", {"p", "a\\b c"}},  // 2n backslashes: n and a quoted part
      {"p a\\b\\\\", {"p", "a\\b\\\\"}},    // no quote after: literal
      {"p \"a\"\"b\" c", {"p", "a\"b c"}},  // "" in quotes: a quote, and the quotes end
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, platform::SplitCommandLine(c.first)) << c.first;
}

TEST(Process, StartStampNamesARunningProcessUntilItEnds) {
  Process child;
  ASSERT_EQ(platform::kErrorSuccess, child.Start("sleep 0.3"));
  const std::string stamp = platform::ProcessStartStamp(child.Id());
  EXPECT_FALSE(stamp.empty());
  EXPECT_EQ(stamp, platform::ProcessStartStamp(child.Id()));
  const int pid = child.Id();
  EXPECT_EQ(WaitResult::kExited, child.Wait(platform::kInfinite));
  EXPECT_EQ("", platform::ProcessStartStamp(pid));
  EXPECT_EQ("", platform::ProcessStartStamp(0));
}

TEST(Process, StartFailuresAnswerWindowsCodesAndDownloadsBecomeExecutable) {
  obxtest::TempStateRoot root;
  obxtest::WriteFile(root.Sub("script"), "#!/bin/sh\nexit 7\n");  // no execute permission
  Process plain, downloaded;
  EXPECT_EQ(platform::kErrorFileNotFound, Process().Start(root.Sub("none") + " 1"));
  EXPECT_EQ(platform::kErrorFileNotFound, Process().Start("no-such-program-here 1"));
  EXPECT_EQ(platform::kErrorAccessDenied, plain.Start(root.Sub("script")));
  platform::ProcessOptions options;
  options.makeExecutable = options.highPriority = true;  // priority: refused and ignored
  ASSERT_EQ(platform::kErrorSuccess, downloaded.Start(root.Sub("script"), options));
  EXPECT_EQ(WaitResult::kExited, downloaded.Wait(platform::kInfinite));
  EXPECT_EQ(7u, downloaded.ExitCode());
}

TEST(Process, ChildStartsWithEmptySignalMaskAndDefaultActions) {
  // As in orsa-host: SIGTERM blocked in the starting thread, and ignored.
  sigset_t term, oldMask;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &term, &oldMask);
  struct sigaction ignore = {}, oldAction = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGTERM, &ignore, &oldAction);
  Process child;
  const long started = child.Start("sh -c \"kill -TERM $$; sleep 5\"");
  sigaction(SIGTERM, &oldAction, nullptr);
  pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
  ASSERT_EQ(platform::kErrorSuccess, started);
  EXPECT_EQ(WaitResult::kExited, child.Wait(platform::kInfinite));
  EXPECT_EQ(128u + SIGTERM, child.ExitCode());
}

TEST(Process, ChildThatOutlivesItsWaitKeepsRunningAndIsReapedWhenItEnds) {
  int pid = 0;
  {
    Process child;
    ASSERT_EQ(platform::kErrorSuccess, child.Start("sleep 0.5"));
    EXPECT_EQ(WaitResult::kTimedOut, child.Wait(20));
    pid = child.Id();
    EXPECT_NE(0, ProcessState(pid));
    EXPECT_NE('Z', ProcessState(pid));
  }
  EXPECT_TRUE(GoneWithin20s(pid)) << "left as " << ProcessState(pid);
}

TEST(Process, QuitRequestEndsAnEndlessWaitAndLeavesTheChild) {
  platform::StopSource stop;
  platform::ScopedStopToken current(stop.Token());
  Process child;
  ASSERT_EQ(platform::kErrorSuccess, child.Start("sleep 30"));
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop.RequestStop();
  });
  EXPECT_EQ(WaitResult::kStopped, child.Wait(platform::kInfinite));
  stopper.join();
  EXPECT_NE('Z', ProcessState(child.Id()));
  EXPECT_TRUE(child.Terminate());
}

}  // namespace
