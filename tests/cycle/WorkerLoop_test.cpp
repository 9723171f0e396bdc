// The scheduling loop, run on the test's own thread with a manual clock: the
// pauses return at once and the test ends the loop through the quit request.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <functional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "cycle/OBXConsole.h"
#include "foundation/SettingsStore.h"
#include "orsa/IHttpClientHold.h"
#include "orsa/INet.h"
#include "platform/Registry.h"
#include "platform/StopToken.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempStateRoot.h"

namespace {

const char kStart[] = "************Start************";
const char kCatch[] = "************Catch Exception,Stop it!************";
const char kWaitPrefix[] = "************Wait for next schedule*********at lease (seconds):";

void SetModuleDword(const std::string& name, uint32_t value) {
  platform::RegKey key = nullptr;
  ASSERT_EQ(platform::kErrorSuccess,
            platform::CreateRegKey(platform::RegRoot::kLocalMachine, obx::kModuleKey,
                                   platform::kKeyAllAccess, &key));
  EXPECT_EQ(platform::kErrorSuccess,
            platform::SetRegValue(key, name, platform::kRegDword,
                                  reinterpret_cast<const unsigned char*>(&value), sizeof value));
  platform::CloseRegKey(key);
}

class FakeP2p : public orsa::net::IP2pDownload {
 public:
  int download(const std::string&, const std::string&, int) override { return 0; }
  int setServerHost(const std::string& folder, int port, int peerPort) override {
    calls.emplace_back(folder, port, peerPort);
    return answer ? answer() : 0;
  }
  std::function<int()> answer;
  std::vector<std::tuple<std::string, int, int>> calls;
};

// Registered under the peer-to-peer type name but not of that type.
class NotAP2p : public orsa::IOrsaObject {};

class WorkerLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime.Install();
    platform::SetClockForTest(&clock);
  }
  void TearDown() override { platform::SetClockForTest(nullptr); }

  // Steps that record their names into `ran`.
  obx::CycleSteps RecordingSteps() {
    obx::CycleSteps steps;
    steps.refreshOsInfo = [this] { ran.push_back("os"); };
    steps.uploadReports = [this] { ran.push_back("reports"); };
    steps.updatePolicy = [this] { ran.push_back("policy"); };
    steps.taskExecute = [this] { ran.push_back("tasks"); };
    return steps;
  }

  // Runs the loop on this thread; the quit request is made during pause number
  // `pauses`, which ends the loop there.
  uint32_t RunLoop(const obx::CycleSteps& steps, int pauses) {
    int seen = 0;
    clock.SetSleepHook([&](uint32_t) {
      if (++seen >= pauses) stop.RequestStop();
    });
    platform::ScopedStopToken current(stop.Token());
    return obx::OBXConsole(steps).Run();
  }

  std::vector<std::string> WaitLines() const {
    std::vector<std::string> out;
    for (const std::string& m : runtime.Messages())
      if (m.rfind(kWaitPrefix, 0) == 0) out.push_back(m);
    return out;
  }

  obxtest::TempStateRoot root;
  obxtest::FakeRuntime runtime;
  obxtest::ManualClock clock;
  platform::StopSource stop;
  std::vector<std::string> ran;
};

TEST_F(WorkerLoop, RunsTheFourStepsInOrderThenPausesEveryCycle) {
  EXPECT_EQ(0u, RunLoop(RecordingSteps(), 2));
  EXPECT_EQ((std::vector<std::string>{"os", "reports", "policy", "tasks", "os", "reports", "policy",
                                      "tasks"}),
            ran);
  EXPECT_EQ((std::vector<uint32_t>{3605000u, 3605000u}), clock.Sleeps());
  std::vector<std::string> messages = runtime.Messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(kStart, messages.front());
  EXPECT_EQ(1, runtime.Count(kStart));
  EXPECT_EQ(0, runtime.Count(kCatch));
  for (const obxtest::LogLine& line : runtime.Lines()) {
    EXPECT_EQ("OBXConsole", line.channel) << line.message;
    EXPECT_EQ("OBXConsole", line.source) << line.message;
    EXPECT_EQ(orsa::kLogInformation, line.level) << line.message;
  }
}

struct ScheduleCase {
  const char* name;
  bool present;
  uint32_t hours;
  uint32_t waitMs;
};

TEST_F(WorkerLoop, PauseFollowsTaskScheduleCappedAtADay) {
  const ScheduleCase cases[] = {
      {"absent", false, 0, 3605000u},
      {"zero", true, 0, 5000u},
      {"one", true, 1, 3605000u},
      {"seven", true, 7, 25205000u},
      {"24", true, 24, 86405000u},
      {"25", true, 25, 86405000u},
      {"100", true, 100, 86405000u},
      {"all ones", true, 0xFFFFFFFFu, 86405000u},
      {"negative", true, 0x80000000u, 86405000u},
  };
  for (const ScheduleCase& c : cases) {
    SCOPED_TRACE(c.name);
    obxtest::TempStateRoot caseRoot;
    obxtest::FakeRuntime caseRuntime;
    caseRuntime.Install();
    obxtest::ManualClock caseClock;
    platform::SetClockForTest(&caseClock);
    if (c.present) SetModuleDword("taskSchedule", c.hours);
    platform::StopSource caseStop;
    caseClock.SetSleepHook([&](uint32_t) { caseStop.RequestStop(); });
    {
      platform::ScopedStopToken current(caseStop.Token());
      obx::OBXConsole(obx::CycleSteps()).Run();
    }
    EXPECT_EQ(std::vector<uint32_t>{c.waitMs}, caseClock.Sleeps());
    EXPECT_EQ(1, caseRuntime.Count(kWaitPrefix + std::to_string(c.waitMs / 1000)));
    platform::SetClockForTest(&clock);
    runtime.Install();
  }
}

TEST_F(WorkerLoop, ScheduleStoredAsTextCountsAsOneHour) {
  ASSERT_TRUE(obx::WriteRegString(obx::HKLM, obx::kModuleKey, "taskSchedule", "0"));
  RunLoop(obx::CycleSteps(), 1);
  EXPECT_EQ(std::vector<uint32_t>{3605000u}, clock.Sleeps());
  EXPECT_TRUE(runtime.Has(std::string(kWaitPrefix) + "3605"));
}

TEST_F(WorkerLoop, ScheduleIsReadAfreshEveryCycle) {
  obx::CycleSteps steps;
  int cycles = 0;
  // Changed during the second cycle, so only the second pause sees it.
  steps.taskExecute = [&] {
    if (++cycles == 2) SetModuleDword("taskSchedule", 0);
  };
  RunLoop(steps, 3);
  EXPECT_EQ((std::vector<uint32_t>{3605000u, 5000u, 5000u}), clock.Sleeps());
  EXPECT_EQ(
      (std::vector<std::string>{std::string(kWaitPrefix) + "3605", std::string(kWaitPrefix) + "5",
                                std::string(kWaitPrefix) + "5"}),
      WaitLines());
}

TEST_F(WorkerLoop, StepThatThrowsEndsTheWorkerAfterOneMessage) {
  struct Case {
    const char* name;
    int throwingStep;  // 0..3
    bool standard;     // std::exception or something else
    int cycle;         // the cycle (1-based) in which it throws
  };
  const Case cases[] = {
      {"os info, first cycle", 0, true, 1}, {"reports, first cycle", 1, false, 1},
      {"policy, first cycle", 2, true, 1},  {"tasks, first cycle", 3, false, 1},
      {"policy, third cycle", 2, true, 3},
  };
  const char* const names[] = {"os", "reports", "policy", "tasks"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    runtime.ClearLines();
    std::vector<std::string> seen;
    int cycle = 0;
    obx::CycleSteps steps;
    std::function<void()>* slots[] = {&steps.refreshOsInfo, &steps.uploadReports,
                                      &steps.updatePolicy, &steps.taskExecute};
    for (int i = 0; i < 4; ++i) {
      *slots[i] = [&, i] {
        if (i == 0) ++cycle;
        seen.push_back(names[i]);
        if (i == c.throwingStep && cycle == c.cycle) {
          if (c.standard) throw std::runtime_error("step failed");
          throw 42;
        }
      };
    }
    platform::StopSource caseStop;  // never requested: only the exception ends the loop
    platform::ScopedStopToken current(caseStop.Token());
    size_t pausesBefore = clock.Sleeps().size();
    EXPECT_EQ(0u, obx::OBXConsole(steps).Run());

    EXPECT_EQ(1, runtime.Count(kCatch));
    EXPECT_EQ(kCatch, runtime.Messages().back());
    EXPECT_EQ(static_cast<size_t>(c.cycle - 1), clock.Sleeps().size() - pausesBefore);
    EXPECT_EQ(static_cast<size_t>(c.cycle - 1), WaitLines().size());
    // Every step of the earlier cycles, then the throwing cycle up to the thrower.
    EXPECT_EQ(static_cast<size_t>((c.cycle - 1) * 4 + c.throwingStep + 1), seen.size());
    EXPECT_EQ(names[c.throwingStep], seen.back());
  }
}

TEST_F(WorkerLoop, QuitRequestBetweenStepsEndsTheCycleQuietly) {
  obx::CycleSteps steps = RecordingSteps();
  steps.uploadReports = [this] {
    ran.push_back("reports");
    stop.RequestStop();
  };
  platform::ScopedStopToken current(stop.Token());
  EXPECT_EQ(0u, obx::OBXConsole(steps).Run());
  EXPECT_EQ((std::vector<std::string>{"os", "reports"}), ran);
  EXPECT_TRUE(clock.Sleeps().empty());
  EXPECT_TRUE(WaitLines().empty());
  EXPECT_EQ(0, runtime.Count(kCatch));
}

TEST_F(WorkerLoop, QuitRequestDuringThePauseEndsTheLoop) {
  // The system clock's pause: a quit request already made cuts it short, so
  // the loop ends without waiting an hour.
  platform::SetClockForTest(nullptr);
  obx::CycleSteps steps = RecordingSteps();
  steps.taskExecute = [this] {
    ran.push_back("tasks");
    stop.RequestStop();
  };
  // The request is seen only by the pause, which comes after the last step.
  platform::ScopedStopToken current(stop.Token());
  EXPECT_EQ(0u, obx::OBXConsole(steps).Run());
  EXPECT_EQ((std::vector<std::string>{"os", "reports", "policy", "tasks"}), ran);
  EXPECT_EQ(1u, WaitLines().size());
}

enum class P2pSetup {
  kNone,
  kAnswersZero,
  kAnswersOne,
  kThrowsStd,
  kThrowsOther,
  kWrongType,
  kNoContext
};

struct P2pCase {
  const char* name;
  P2pSetup setup;
  const char* warning;  // "" when no line is expected
};

TEST_F(WorkerLoop, PeerToPeerServerSettingIsMadeOnceAndFailuresOnlyWarn) {
  const P2pCase cases[] = {
      {"no service", P2pSetup::kNone, ""},
      {"accepted", P2pSetup::kAnswersZero, ""},
      {"refused", P2pSetup::kAnswersOne, "Failed to set p2p server host"},
      {"std exception", P2pSetup::kThrowsStd, "Failed to access P2P host,error info:port busy"},
      {"other exception", P2pSetup::kThrowsOther, "Failed to access P2P host,unknown exception."},
      {"wrong type", P2pSetup::kWrongType,
       "Failed to access P2P host,error info:Can't cast service to the specified type, please "
       "check the config."},
      {"no runtime context", P2pSetup::kNoContext,
       "Failed to access P2P host,error info:Null runtime context."},
  };
  for (const P2pCase& c : cases) {
    SCOPED_TRACE(c.name);
    obxtest::TempStateRoot caseRoot;
    obxtest::FakeRuntime caseRuntime;
    caseRuntime.Install();
    ASSERT_TRUE(obx::WriteRegString(obx::HKLM, obx::kModuleKey, "FileSavedPath", "D:\\updates"));
    auto p2p = boost::make_shared<FakeP2p>();
    switch (c.setup) {
      case P2pSetup::kNone:
        break;
      case P2pSetup::kAnswersZero:
        break;
      case P2pSetup::kAnswersOne:
        p2p->answer = [] { return 1; };
        break;
      case P2pSetup::kThrowsStd:
        p2p->answer = []() -> int { throw std::runtime_error("port busy"); };
        break;
      case P2pSetup::kThrowsOther:
        p2p->answer = []() -> int { throw 7; };
        break;
      case P2pSetup::kWrongType:
        caseRuntime.RegisterService(orsa::net::IP2pDownload::kTypeName,
                                    boost::make_shared<NotAP2p>());
        break;
      case P2pSetup::kNoContext:
        caseRuntime.SetContextMissing(true);
        break;
    }
    const bool registered = c.setup != P2pSetup::kNone && c.setup != P2pSetup::kWrongType &&
                            c.setup != P2pSetup::kNoContext;
    if (registered) caseRuntime.Register<orsa::net::IP2pDownload>(p2p);

    ran.clear();
    platform::StopSource caseStop;
    int pauses = 0;
    clock.SetSleepHook([&](uint32_t) {
      if (++pauses == 2) caseStop.RequestStop();
    });
    {
      platform::ScopedStopToken current(caseStop.Token());
      obx::OBXConsole(RecordingSteps()).Run();
    }

    // Set once per thread start, however many cycles run.
    if (registered) {
      ASSERT_EQ(1u, p2p->calls.size());
      EXPECT_EQ(std::make_tuple(std::string("D:\\updates"), 20100, 20100), p2p->calls[0]);
    } else {
      EXPECT_TRUE(p2p->calls.empty());
    }
    std::vector<std::string> warnings;
    for (const obxtest::LogLine& line : caseRuntime.Lines())
      if (line.level == orsa::kLogWarning) warnings.push_back(line.message);
    if (*c.warning)
      EXPECT_EQ(std::vector<std::string>{c.warning}, warnings);
    else
      EXPECT_TRUE(warnings.empty());
    // The cycles run whatever the setting did.
    EXPECT_EQ(8u, ran.size());
    runtime.Install();
  }
}

}  // namespace

// The host's HTTP client is held while the steps run, so the cycle's calls
// share one mapping of libcurl, and given back at every pause and when a step
// throws, so the agent at rest keeps nothing mapped.
class CountingHold : public orsa::net::IHttpClientHold {
 public:
  bool hold() override { return ++held, true; }
  void release() override { --held; }
  int held = 0;
};

TEST_F(WorkerLoop, HoldsTheHttpClientForTheStepsOnly) {
  auto hold = boost::make_shared<CountingHold>();
  runtime.Register<orsa::net::IHttpClientHold>(hold);
  std::vector<int> during;
  obx::CycleSteps steps;
  steps.uploadReports = [&] { during.push_back(hold->held); };
  steps.taskExecute = [&] { during.push_back(hold->held); };
  clock.SetSleepHook([&](uint32_t) {
    during.push_back(-hold->held);  // at the pause: 0
    if (during.size() >= 6) stop.RequestStop();
  });
  {
    platform::ScopedStopToken current(stop.Token());
    obx::OBXConsole(steps).Run();
  }
  EXPECT_EQ(during, (std::vector<int>{1, 1, 0, 1, 1, 0}));
  steps.taskExecute = [] { throw std::runtime_error("step"); };
  obx::OBXConsole(steps).Run();
  EXPECT_EQ(0, hold->held);
}
