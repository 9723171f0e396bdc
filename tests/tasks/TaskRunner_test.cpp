// The task runner over sealed files, the test machine's clock, and task
// programs of the system (shell scripts, batch files on Windows) that answer
// through the registry: the walk and its try limit, and a program left
// running at a quit request and answered for in a later walk. The stages'
// own rules are tried on fakes (Stages_test.cpp), the whole job with real
// programs in tests/component/TaskRunEndToEnd_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "orsa/INet.h"
#include "platform/StopToken.h"
#include "tasks/ProgramMark.h"
#include "tests/support/RegistryValues.h"
#include "tests/tasks/TaskRunnerTest.h"

namespace {

using obxtest::TestProgram;
using taskrunnertest::kPending;
using taskrunnertest::TaskRunnerTest;

TEST_F(TaskRunnerTest, WalksInByteOrderAndEndsTasksOverTheTryLimit) {
  // No boot address: the stage stops at once, every cycle counts as a try.
  Store("<patch policyid=\"9\"/><patch policyid=\"10\"/><patch policyid=\"11\"/>",
        "<patch policyid=\"9\">" + std::string(kPending) + "</patch><patch policyid=\"10\">" +
            kPending + "</patch><patch policyid=\"11\"><PatchExecute status=\"to_be_executed\" " +
            "times=\"-1\"/></patch>");
  obxtest::WriteRegDword(platform::RegRoot::kLocalMachine, obx::kModuleKey, "TryTimes", 2);
  const auto messages = [&] { return runtime_.Messages(); };
  Cycle();
  const auto first = messages();
  const auto at = [&](const std::string& m) { return std::find(first.begin(), first.end(), m); };
  EXPECT_LT(at("taskID ****10 ******"), at("taskID ****9 ******"));
  // -1 is over every limit, and the count goes on from 0.
  EXPECT_EQ(1, runtime_.Count("RunTaskList:task 11 run overtimes"));
  EXPECT_EQ("0", State("11", "PatchExecute", "times"));
  for (int cycle = 2; cycle <= 4; ++cycle) Cycle();
  EXPECT_EQ(3, runtime_.Count("BootFile:task 9 could not downloaded bootfile for URL is null"));
  EXPECT_EQ(1, runtime_.Count("RunTaskList:task 9 run overtimes"));
  EXPECT_EQ("4", State("9", "PatchExecute", "times"));
  // One version record per task over the four cycles, 11's included: those
  // of one walk travel in one upload, and as nothing acknowledges them here,
  // the second upload carries the first walk's again.
  std::vector<std::string> reported;
  for (const auto& call : invoker_->Calls()) {
    std::string payload;
    obx::DecryptText(obx::kPassphrase, payload, call.maps.at(0).items.at(0).value);
    for (size_t at = payload.find(" id=\""); at != std::string::npos;
         at = payload.find(" id=\"", at + 1))
      reported.push_back(payload.substr(at + 5, payload.find('"', at + 5) - at - 5));
  }
  EXPECT_EQ(reported, (std::vector<std::string>{"10", "9", "10", "9", "11"}));
  EXPECT_EQ(2u, invoker_->Calls().size());
  EXPECT_EQ("true", State("11", "versionReport", "status"));
}

// A walk cut by an exception (the downloader's service lookup failing for
// task 2, after task 1's record was queued) never leaves task 1 marked
// reported without its record.
TEST_F(TaskRunnerTest, AnExceptionInTheWalkLosesNoQueuedVersionRecord) {
  Store(
      "<patch policyid=\"1\"/><patch policyid=\"2\"><bootdownload url=\"b.sh\" md5=\"0\" "
      "type=\"http\" validtime=\"0-24\"/></patch>",
      "<patch policyid=\"1\">" + std::string(kPending) + "</patch><patch policyid=\"2\">" +
          kPending + "<bootdownload status=\"false\"/></patch>");
  // Not a downloader: its lookup throws.
  runtime_.RegisterService(orsa::net::IVerifiedDownloader::kTypeName, invoker_);
  {
    obx::TaskManager tasks;
    ASSERT_TRUE(tasks.InitTask());
    EXPECT_THROW(tasks.RunTaskList(), std::runtime_error);
  }  // whatever it still holds is written now
  bool sent = false;
  for (const auto& call : invoker_->Calls()) {
    std::string payload;
    obx::DecryptText(obx::kPassphrase, payload, call.maps.at(0).items.at(0).value);
    sent = sent || payload.find("type=\"versionInfo\" id=\"1\"") != std::string::npos;
  }
  EXPECT_TRUE(sent || State("1", "versionReport", "status") != "true");
  EXPECT_NE("true", State("2", "versionReport", "status"));
}

// A walk in which no task acts writes the task list once; one in which
// nothing changes writes nothing.
TEST_F(TaskRunnerTest, AWalkWritesTheTaskListOnlyWhenATaskActs) {
  std::string policy, tasks, done;
  for (int id = 100; id < 150; ++id) {
    const std::string entry = "<patch policyid=\"" + std::to_string(id) + "\">";
    policy += entry +
              "<bootdownload url=\"b.sh\" md5=\"0\" type=\"http\" "
              "validtime=\"0-0\"/></patch>";
    tasks += entry + kPending + "<versionReport status=\"true\"/></patch>";
    done += entry + "<PatchExecute status=\"done\"/><versionReport status=\"true\"/></patch>";
  }
  auto writes = [&](const std::string& entries) {
    Store(policy, entries);
    const platform::FileWriteCounts before = platform::GetFileWriteCounts();
    Cycle();
    return platform::GetFileWriteCounts().replaced - before.replaced;
  };
  EXPECT_EQ(1u, writes(tasks));
  EXPECT_EQ("1", State("149", "PatchExecute", "times"));  // the one write holds every change
  EXPECT_EQ(0u, writes(done));
}

// A program still running when the agent is asked to stop keeps running; the
// stage returns at once instead of waiting for it (three minutes for a boot
// program, without limit for a patch program), without an answer. A later
// walk leaves the task while the program runs, and once it has ended takes the
// answer it left, without starting it again: the verdict of a boot program,
// the result of a patch program (r1 "unknown": it wrote none), reported once.
TEST_F(TaskRunnerTest, QuitRequestEndsTheWaitAndALaterWalkTakesTheAnswer) {
  const std::string slow = TestProgram::Name("slow");
  const std::string md5 =
      Program(slow, TestProgram()
                        .SetValue(obx::PatchInfoKey("5"), "bootCheckResult", "false")
                        .Touch(Native("started"))
                        .WaitFor(Native("release"))
                        .Touch(Native("ended")));
  const struct {
    const char* stage;
    const char *note, *logged, *later, *verdict, *status;
    int records;
  } cases[] = {
      {"boot", "bootrun",
       "BootFile:task 5 boot program still running, left to finish: the agent is stopping",
       "BootFile:task 5 boot program started before has ended, its verdict is read", "false",
       "to_be_executed", 0},
      {"patch", "PatchExecute",
       "DoPatchFile:task 5 patch program still running, left to finish: the agent is stopping",
       "RunTaskList:task 5 patch program has ended, its result is reported", "", "done", 1},
  };
  const auto appears = [](const std::string& file) {
    for (int i = 0; i < 3000 && !platform::PathExists(file); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return platform::PathExists(file);
  };
  size_t seenCalls = 0;
  const auto installRecords = [&] {
    std::vector<std::string> records;
    for (size_t i = seenCalls; i < invoker_->Calls().size(); ++i) {
      const auto& call = invoker_->Calls()[i];
      std::string payload;
      obx::DecryptText(obx::kPassphrase, payload, call.maps.at(0).items.at(0).value);
      if (payload.find("installResultInfo") != std::string::npos) records.push_back(payload);
    }
    return records;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stage);
    Store("<patch policyid=\"5\"><bootdownload url=\"b/" + slow + "\" md5=\"" + md5 +
              "\"/><download url=\"p/" + slow + "\" md5=\"" + md5 +
              "\" type=\"http\"/><exec runtype=\"0\"/></patch>",
          "<patch policyid=\"5\">" + std::string(kPending) +
              "<bootdownload status=\"true\"/><download status=\"true\"/>" +
              (std::string(c.stage) == "patch" ? "<bootrun result=\"true\"/>" : "") + "</patch>");
    SetReg("5", "patchFileMD5", md5);
    SetReg("5", "Result1", "");
    for (const char* file : {"started", "release", "ended"}) std::remove(Native(file).c_str());
    runtime_.ClearLines();
    obx::TaskManager tasks;
    ASSERT_TRUE(tasks.InitTask());
    platform::StopSource stop;
    {
      platform::ScopedStopToken token(stop.Token());
      std::thread stopper([&] {
        appears(Native("started"));
        stop.RequestStop();
      });
      const auto start = std::chrono::steady_clock::now();
      const bool result =
          std::string(c.stage) == "boot" ? tasks.BootFile("5") : tasks.DoPatchFile("5");
      const auto waited = std::chrono::steady_clock::now() - start;
      stopper.join();
      EXPECT_FALSE(result);
      EXPECT_LT(waited, std::chrono::seconds(60));  // far below the three minutes
    }
    EXPECT_TRUE(runtime_.Has(c.logged));
    EXPECT_FALSE(runtime_.Has("BootFile:task 5 boot file running failed "));
    EXPECT_EQ(std::string(c.stage) == "patch" ? "true" : "", State("5", "bootrun", "result"));
    EXPECT_EQ("to_be_executed", State("5", "PatchExecute", "status"));
    const std::string note = State("5", c.note, "started");
    EXPECT_FALSE(note.empty());

    // While it runs, a walk leaves the task alone.
    Cycle();
    EXPECT_EQ(0u, installRecords().size());
    EXPECT_EQ("to_be_executed", State("5", "PatchExecute", "status"));
    // Still running: it ends once it is let go.
    EXPECT_FALSE(platform::PathExists(Native("ended")));
    obxtest::WriteFile(Native("release"), "");
    EXPECT_TRUE(appears(Native("ended"))) << "the program was ended";
    for (int i = 0;
         i < 3000 && obx::ProgramMark::Parse(note).StillRunning(platform::kInfinite, false); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));

    std::remove(Native("started").c_str());
    Cycle();
    Cycle();
    EXPECT_TRUE(runtime_.Has(c.later)) << c.later;
    EXPECT_FALSE(platform::PathExists(Native("started"))) << "started again";
    EXPECT_EQ(c.status, State("5", "PatchExecute", "status"));
    EXPECT_EQ("", State("5", c.note, "started"));
    if (std::string(c.stage) == "boot") {
      EXPECT_EQ(c.verdict, State("5", "bootrun", "result"));
    }
    const std::vector<std::string> records = installRecords();
    ASSERT_EQ(static_cast<size_t>(c.records), records.size());
    if (c.records == 1) {
      EXPECT_NE(records[0].find("<key>r1</key><value>unknown</value>"), std::string::npos)
          << records[0];
    }
    seenCalls = invoker_->Calls().size();
  }
}

}  // namespace
