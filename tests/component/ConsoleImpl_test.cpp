// The console object: start and stop of the worker, the peer-to-peer
// composite, and the forced end as last resort.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "component/IOBXConsoleImpl.h"
#include "foundation/SettingsStore.h"
#include "platform/Thread.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/TempStateRoot.h"

namespace {

const char kAlready[] = "the task thread has been started already";
const char kStartLine[] = "*************start************";
const char kWorkerStart[] = "************Start************";
const char kCatch[] = "************Catch Exception,Stop it!************";
const char kWaitPrefix[] = "************Wait for next schedule*********at lease (seconds):";
const char kNoRuntimePath[] = "Could not Load p2p comosite for runtime path is null";
const char kForced[] = "the task thread did not end in time, it is left to end at its next wait";
const char kPassphrase[] = "Grey owls hum softly over the marsh ok";

// Polls for an event of another thread. The bound only keeps a broken build
// from hanging; nothing is asserted about how long the event took.
bool Eventually(const std::function<bool()>& condition) {
  for (int i = 0; i < 6000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return condition();
}

class ConsoleImpl : public ::testing::Test {
 protected:
  void SetUp() override { runtime.Install(); }
  void TearDown() override {
    platform::Thread::FailStartsForTest(false);
    EXPECT_TRUE(platform::WaitForAbandonedThreads(30000));
  }

  void SetFrameworkFolder(const std::string& folder) {
    ASSERT_TRUE(obx::WriteRegString(obx::HKLM, obx::kFrameworkKey, "InstallPath", folder));
  }

  bool WorkerPaused() const { return runtime.HasPrefix(kWaitPrefix); }

  // Lines of the console's own logger with this level and text.
  int ConsoleLines(int level, const std::string& message) const {
    int n = 0;
    for (const obxtest::LogLine& line : runtime.Lines())
      n += line.level == level && line.message == message && line.channel == "IOBXConsoleImpl" &&
           line.source == "IOBXConsoleImpl";
    return n;
  }

  obxtest::TempStateRoot root;
  obxtest::FakeRuntime runtime;
};

TEST_F(ConsoleImpl, SecondStartReportsAlreadyStartedAndLoadsNothing) {
  SetFrameworkFolder("C:\\orsa\\");
  obx::IOBXConsoleImpl console;
  console.SetCycleStepsForTest(obx::CycleSteps());
  EXPECT_TRUE(console.start());
  EXPECT_FALSE(console.start());
  EXPECT_EQ(1, ConsoleLines(orsa::kLogInformation, kAlready));
  EXPECT_EQ(1, ConsoleLines(orsa::kLogInformation, kStartLine));
  EXPECT_EQ(1, ConsoleLines(orsa::kLogInformation, "Load p2p comosite"));
  EXPECT_EQ(1u, runtime.CompositeLoads().size());
  EXPECT_EQ(1, runtime.ActivateCalls());
  EXPECT_TRUE(console.stop());

  // After a stop the next start is a real one again.
  EXPECT_TRUE(console.start());
  EXPECT_EQ(2u, runtime.CompositeLoads().size());
  EXPECT_TRUE(console.stop());
}

TEST_F(ConsoleImpl, StopWithoutStartDoesNothing) {
  obx::IOBXConsoleImpl console;
  EXPECT_TRUE(console.stop());
  EXPECT_TRUE(console.stop());
  EXPECT_TRUE(runtime.Lines().empty());
}

TEST_F(ConsoleImpl, CompositePathIsTheFolderRunStraightIntoTheFileName) {
  struct Case {
    const char* folder;
    const char* path;
  };
  const Case cases[] = {
      {"C:\\orsa\\", "C:\\orsa\\Components/orsap2p.composite"},
      {"/opt/orsa", "/opt/orsaComponents/orsap2p.composite"},
      {"/opt/orsa/", "/opt/orsa/Components/orsap2p.composite"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    runtime.ClearLines();
    SetFrameworkFolder(c.folder);
    size_t before = runtime.CompositeLoads().size();
    obx::IOBXConsoleImpl console;
    console.SetCycleStepsForTest(obx::CycleSteps());
    EXPECT_TRUE(console.start());
    auto loads = runtime.CompositeLoads();
    ASSERT_EQ(before + 1, loads.size());
    EXPECT_EQ(c.path, loads.back().first);
    EXPECT_EQ(kPassphrase, loads.back().second);
    EXPECT_EQ(38u, loads.back().second.size());
    std::vector<std::string> messages = runtime.Messages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(kStartLine, messages[0]);
    EXPECT_EQ("Load p2p comosite", messages[1]);
    EXPECT_EQ(1, runtime.Count("the answers of the management server are not authenticated: "
                               "no ServerKey is set"));
    EXPECT_TRUE(console.stop());
  }
  EXPECT_EQ(3, runtime.ActivateCalls());
}

TEST_F(ConsoleImpl, EmptyFrameworkFolderLogsTheErrorAndStartsTheWorkerAnyway) {
  obx::IOBXConsoleImpl console;
  console.SetCycleStepsForTest(obx::CycleSteps());
  EXPECT_TRUE(console.start());
  EXPECT_TRUE(Eventually([&] { return runtime.Has(kWorkerStart); }));
  EXPECT_TRUE(runtime.CompositeLoads().empty());
  EXPECT_EQ(0, runtime.ActivateCalls());
  EXPECT_EQ(1, ConsoleLines(orsa::kLogError, kNoRuntimePath));
  EXPECT_EQ(1, runtime.Count(kNoRuntimePath));
  EXPECT_FALSE(runtime.Has("Load p2p comosite"));
  EXPECT_TRUE(console.stop());
}

TEST_F(ConsoleImpl, CompositeThatFailsToLoadIsLoggedAndTheWorkerStarts) {
  struct Case {
    const char* name;
    std::function<orsa::IOrsaObjectPtr(const std::string&, const std::string&)> load;
    const char* error;
  };
  const Case cases[] = {
      {"std exception",
       [](const std::string&, const std::string&) -> orsa::IOrsaObjectPtr {
         throw std::runtime_error("no such composite");
       },
       "Failed to load p2p comosite,error info:no such composite"},
      {"other exception",
       [](const std::string&, const std::string&) -> orsa::IOrsaObjectPtr { throw 3; },
       "Failed to load p2p comosite,unknown exception."},
  };
  SetFrameworkFolder("C:\\orsa\\");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    runtime.ClearLines();
    runtime.SetComposite(c.load);
    obx::IOBXConsoleImpl console;
    console.SetCycleStepsForTest(obx::CycleSteps());
    EXPECT_TRUE(console.start());
    EXPECT_EQ(1, runtime.Count(c.error));
    EXPECT_TRUE(Eventually([&] { return runtime.Has(kWorkerStart); }));
    EXPECT_TRUE(console.stop());
  }
  EXPECT_EQ(0, runtime.ActivateCalls());  // nothing loaded, nothing to activate
}

TEST_F(ConsoleImpl, WorkerEndedByAnExceptionCountsAsStartedUntilStop) {
  std::atomic<int> stepCalls{0};
  obx::CycleSteps steps;
  steps.refreshOsInfo = [&] {
    ++stepCalls;
    throw std::runtime_error("no OS facts");
  };
  steps.uploadReports = [&] { stepCalls += 100; };
  obx::IOBXConsoleImpl console;
  console.SetCycleStepsForTest(steps);
  EXPECT_TRUE(console.start());
  ASSERT_TRUE(Eventually([&] { return runtime.Has(kCatch); }));

  EXPECT_FALSE(console.start());
  EXPECT_EQ(1, runtime.Count(kAlready));
  EXPECT_EQ(1, runtime.Count(kCatch));
  EXPECT_EQ(1, stepCalls.load());
  EXPECT_FALSE(WorkerPaused());

  EXPECT_TRUE(console.stop());
  EXPECT_FALSE(runtime.Has(kForced));  // it had ended: nothing to force
  EXPECT_TRUE(console.start());        // a new worker after the stop
  EXPECT_TRUE(Eventually([&] { return runtime.Count(kCatch) == 2; }));
  EXPECT_TRUE(console.stop());
}

TEST_F(ConsoleImpl, StopEndsAnIdleWorkerWithoutForcingIt) {
  obx::IOBXConsoleImpl console;
  console.SetCycleStepsForTest(obx::CycleSteps());
  EXPECT_TRUE(console.start());
  // The worker is in its pause of an hour and five seconds.
  ASSERT_TRUE(Eventually([&] { return WorkerPaused(); }));
  EXPECT_TRUE(runtime.Has(std::string(kWaitPrefix) + "3605"));
  // With the 10-second time-out, only a pause that watches the quit request
  // lets the worker end inside the wait.
  EXPECT_TRUE(console.stop());
  EXPECT_FALSE(runtime.Has(kForced));
  EXPECT_EQ(0, platform::AbandonedThreadsRunning());
}

TEST_F(ConsoleImpl, StopAbandonsAWorkerStuckInAStepAndItEndsAtItsNextWait) {
  std::promise<void> entered;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  auto later = std::make_shared<std::atomic<int>>(0);
  obx::CycleSteps steps;
  steps.refreshOsInfo = [&entered, released] {
    entered.set_value();
    released.wait();  // a step that does not watch the quit request
  };
  steps.uploadReports = [later] { ++*later; };
  steps.taskExecute = [later] { ++*later; };

  obx::IOBXConsoleImpl console;
  console.SetCycleStepsForTest(steps);
  console.SetStopTimeoutForTest(20);
  ASSERT_TRUE(console.start());
  entered.get_future().wait();

  EXPECT_TRUE(console.stop());
  EXPECT_EQ(1, runtime.Count(kForced));
  EXPECT_EQ(1, platform::AbandonedThreadsRunning());
  // The object is free again at once.
  console.SetCycleStepsForTest(obx::CycleSteps());
  EXPECT_TRUE(console.start());
  EXPECT_EQ(0, runtime.Count(kAlready));
  console.SetStopTimeoutForTest(obx::IOBXConsoleImpl::kStopTimeoutMs);

  release.set_value();
  EXPECT_TRUE(console.stop());
  EXPECT_TRUE(platform::WaitForAbandonedThreads(30000));
  // The abandoned worker saw the request when its step returned and ran none
  // of the later steps.
  EXPECT_EQ(0, later->load());
}

TEST_F(ConsoleImpl, DestructorStopsTheWorker) {
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> watch = token;
  {
    obx::CycleSteps steps;
    steps.taskExecute = [token] { ++*token; };
    token.reset();
    obx::IOBXConsoleImpl console;
    console.SetCycleStepsForTest(steps);
    steps = obx::CycleSteps();
    ASSERT_TRUE(console.start());
    ASSERT_TRUE(Eventually([&] { return WorkerPaused(); }));
  }
  // The worker's copy of the steps is released only when its routine returns.
  EXPECT_TRUE(watch.expired());
  EXPECT_FALSE(runtime.Has(kForced));
  EXPECT_EQ(0, platform::AbandonedThreadsRunning());
}

TEST_F(ConsoleImpl, FailedThreadCreationIsLoggedAndTheNextStartTriesAgain) {
  obx::IOBXConsoleImpl console;
  console.SetCycleStepsForTest(obx::CycleSteps());
  platform::Thread::FailStartsForTest(true);
  EXPECT_FALSE(console.start());
  EXPECT_EQ(1, ConsoleLines(orsa::kLogError, "Create start thread failed"));
  platform::Thread::FailStartsForTest(false);
  EXPECT_TRUE(console.start());
  EXPECT_EQ(0, runtime.Count(kAlready));
  EXPECT_TRUE(console.stop());
}

}  // namespace
