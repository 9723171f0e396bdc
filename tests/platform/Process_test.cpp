// Starting programs: Windows command lines, what the child inherits, waits
// that end on time, on the child's end or on the quit request, and no zombie.
#include "platform/Process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

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

// Waits (generously) until the process has gone, zombie included.
bool GoneWithin(int pid, int seconds) {
  for (int i = 0; i < seconds * 50; ++i) {
    if (ProcessState(pid) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

TEST(SplitCommandLine, FollowsTheWindowsRules) {
  const struct {
    const char* line;
    std::vector<std::string> words;
  } cases[] = {
      {"", {}},
      {"C:\\upd\\kb1.exe 12 /q", {"C:\\upd\\kb1.exe", "12", "/q"}},
      {"\"C:\\my dir\\b.exe\" 7", {"C:\\my dir\\b.exe", "7"}},
      {"C:\\my dir\\b.exe 7", {"C:\\my", "dir\\b.exe", "7"}},
      {"\"C:\\dir\\\" x", {"C:\\dir\\", "x"}},  // no escapes in the program
      {"p  a\t\tb  ", {"p", "a", "b"}},
      {"p \"a b\" \"\"", {"p", "a b", ""}},
      {"p a\\\\\\\"b", {"p", "a\\\"b"}},    // 2n+1 backslashes: n and a quote
      {"p a\\\\\"b c\"", {"p", "a\\b c"}},  // 2n backslashes: n and a quoted part
      {"p a\\b\\\\", {"p", "a\\b\\\\"}},    // no quote after: literal
      {"p \"a\"\"b\" c", {"p", "a\"b c"}},  // "" in quotes: a quote, and the quotes end
      {"\"a b\"c d", {"a b", "c", "d"}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.words, platform::SplitCommandLine(c.line)) << c.line;
}

TEST(Process, StartFailuresAnswerWindowsCodes) {
  obxtest::TempStateRoot root;
  obxtest::WriteFile(root.Sub("script"), "#!/bin/sh\nexit 7\n");  // no execute permission
  Process missing, bare, plain, downloaded;
  EXPECT_EQ(platform::kErrorFileNotFound, missing.Start(root.Sub("none") + " 1"));
  EXPECT_EQ(platform::kErrorFileNotFound, bare.Start("no-such-program-here 1"));
  EXPECT_EQ(platform::kErrorInvalidParameter, Process().Start(""));
  EXPECT_EQ(platform::kErrorAccessDenied, plain.Start(root.Sub("script")));

  platform::ProcessOptions options;
  options.makeExecutable = true;
  options.highPriority = true;  // refused without privileges, and ignored
  ASSERT_EQ(platform::kErrorSuccess, downloaded.Start(root.Sub("script"), options));
  EXPECT_EQ(WaitResult::kExited, downloaded.Wait(platform::kInfinite));
  EXPECT_EQ(7u, downloaded.ExitCode());
}

TEST(Process, ChildStartsWithEmptySignalMaskAndDefaultActions) {
  // As in orsa-host: SIGTERM blocked in the starting thread, and ignored.
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  sigset_t oldMask;
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
    ASSERT_GT(pid, 0);
    const char state = ProcessState(pid);
    EXPECT_TRUE(state != 0 && state != 'Z') << state;
  }
  EXPECT_TRUE(GoneWithin(pid, 20)) << "left as " << ProcessState(pid);
}

TEST(Process, QuitRequestEndsAnEndlessWaitAndLeavesTheChild) {
  platform::StopSource stop;
  platform::ScopedStopToken current(stop.Token());
  int pid = 0;
  {
    Process child;
    ASSERT_EQ(platform::kErrorSuccess, child.Start("sleep 30"));
    std::thread stopper([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      stop.RequestStop();
    });
    EXPECT_EQ(WaitResult::kStopped, child.Wait(platform::kInfinite));
    stopper.join();
    pid = child.Id();
    EXPECT_NE('Z', ProcessState(pid));
    EXPECT_EQ(WaitResult::kStopped, child.Wait(platform::kInfinite));  // at once now
    EXPECT_TRUE(child.Terminate());
  }
  EXPECT_TRUE(GoneWithin(pid, 20));
}

}  // namespace
