// Programs started with CreateProcessA: exit codes, the system's own reading
// of an unquoted path with blanks, waits ended by time or by the quit request.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Process.h"
#include "platform/StopToken.h"
#include "tests/platform/win32/ScratchRoot.h"

namespace {

using namespace platform;

// obx-sleeper.exe, built beside the test program.
std::string Sleeper() {
  char self[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string path = self;
  return path.substr(0, path.rfind('\\') + 1) + "obx-sleeper.exe";
}

TEST(ProcessWin32, ExitCodesAndStartFailuresAreTheSystemsOwn) {
  obxtest::ScratchRoot root;
  // Unquoted, with a blank in a folder name: the system finds the program
  // by trying the shorter names first, as the boot-file stage relies on.
  const std::string spaced = root.Sub("with blank\\obx-sleeper.exe");
  ASSERT_TRUE(::CreateDirectoryA(root.Sub("with blank").c_str(), nullptr));
  ASSERT_TRUE(::CopyFileA(Sleeper().c_str(), spaced.c_str(), FALSE));
  struct Case {
    std::string commandLine;
    uint32_t exitCode;
  } cases[] = {{Sleeper() + " 0 7", 7}, {spaced + " 0 5", 5}, {"\"" + spaced + "\" 0 0", 0}};
  for (const Case& c : cases) {
    Process child;
    ASSERT_EQ(kErrorSuccess, child.Start(c.commandLine, ProcessOptions{true, true}))
        << c.commandLine;
    EXPECT_NE(0, child.Id());
    EXPECT_EQ(WaitResult::kExited, child.Wait(kInfinite));
    EXPECT_EQ(c.exitCode, child.ExitCode()) << c.commandLine;
    EXPECT_EQ(0, child.Id());
  }
  Process missing;
  EXPECT_EQ(kErrorFileNotFound, missing.Start(root.Sub("nothing.exe") + " 1"));
  EXPECT_EQ(WaitResult::kFailed, missing.Wait(0));
  Process empty;
  EXPECT_EQ(kErrorInvalidParameter, empty.Start(""));
}

TEST(ProcessWin32, WordsArriveAsTheyWereGiven) {
  obxtest::ScratchRoot root;
  const std::string out = root.Sub("words.txt");
  const std::vector<std::string> words = {
      "plain", "two words", "quote\"inside", "trail\\", "back\\\\slash \\\" mix", ""};
  std::vector<std::string> args = {Sleeper(), "0", "0", out};
  args.insert(args.end(), words.begin(), words.end());
  Process child;
  ASSERT_EQ(kErrorSuccess, child.StartArgs(args));
  ASSERT_EQ(WaitResult::kExited, child.Wait(kInfinite));
  ASSERT_EQ(0u, child.ExitCode());
  std::ifstream in(out, std::ios::binary);
  std::vector<std::string> got;
  for (std::string line; std::getline(in, line);) got.push_back(line);
  EXPECT_EQ(words, got);
}

TEST(ProcessWin32, TimeOutAndQuitRequestLeaveTheChildRunning) {
  Process child;
  ASSERT_EQ(kErrorSuccess, child.Start(Sleeper() + " 60000 0"));
  EXPECT_EQ(WaitResult::kTimedOut, child.Wait(50));

  StopSource source;
  WaitResult waited = WaitResult::kFailed;
  std::thread waiter([&] {
    ScopedStopToken current(source.Token());
    waited = child.Wait(kInfinite);
  });
  ::Sleep(100);
  source.RequestStop();
  waiter.join();
  EXPECT_EQ(WaitResult::kStopped, waited);
  EXPECT_NE(0, child.Id());  // still there
  EXPECT_TRUE(child.Terminate());
  EXPECT_EQ(WaitResult::kExited, child.Wait(kInfinite));
  EXPECT_EQ(1u, child.ExitCode());
  EXPECT_FALSE(child.Terminate());
}

// The handles open in this process, found by asking the system about each
// possible value (GetProcessHandleCount is a stub under Wine).
int OpenHandles() {
  int open = 0;
  for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
    DWORD flags = 0;
    if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++open;
  }
  return open;
}

TEST(ProcessWin32, NoHandleOutlivesItsProcessObject) {
  auto startTwo = [] {
    Process ended;
    ASSERT_EQ(kErrorSuccess, ended.Start(Sleeper() + " 0 0"));
    EXPECT_EQ(WaitResult::kExited, ended.Wait(kInfinite));
    Process running;  // still running when it goes
    ASSERT_EQ(kErrorSuccess, running.Start(Sleeper() + " 60000 0"));
    EXPECT_EQ(WaitResult::kTimedOut, running.Wait(0));
    running.Terminate();
  };
  startTwo();  // what the system keeps after its first start stays out of the count
  const int before = OpenHandles();
  for (int i = 0; i < 5; ++i) startTwo();
  EXPECT_EQ(before, OpenHandles());
}

}  // namespace
