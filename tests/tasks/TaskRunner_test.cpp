// The task runner over sealed files, the test machine's clock and prompt, and
// shell-script task programs that answer through orsa-reg: the walk and its
// try limit, the end of the patch stage, and the quit request in every wait.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <boost/make_shared.hpp>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Digest.h"
#include "foundation/SettingsStore.h"
#include "platform/File.h"
#include "platform/Prompt.h"
#include "platform/StopToken.h"
#include "tasks/TaskManager.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/RegistryValues.h"
#include "tests/support/ScriptedInvoker.h"
#include "tests/support/SealedFiles.h"
#include "tests/support/TestMachine.h"

namespace {

using platform::PromptAnswer;

class TaskRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    obxtest::InstallClientRuntime(runtime_, invoker_);
    obxtest::WriteServerSettingsForTest("h", 7);
    folder_ = machine_.SetModuleFolder("C:\\OBX");
    platform::CreateDirectories(folder_ + "/download");
  }

  void Store(const std::string& policy, const std::string& tasks) {
    obxtest::WriteSealedFile("C:\\OBX\\PatchPolicy.xml", "<patchs>" + policy + "</patchs>");
    obxtest::WriteSealedFile("C:\\OBX\\TaskList.xml", "<patchs>" + tasks + "</patchs>");
  }
  // A program in the update folder; its MD5.
  std::string Program(const std::string& name, const std::string& body) {
    const std::string text = "#!/bin/sh\n" + body + "\n";
    obxtest::WriteFile(folder_ + "/download/" + name, text);
    std::string md5;
    obx::GetMd5Hex(text.data(), text.size(), md5);
    return md5;
  }
  // One cycle's task step over the stored files.
  void Cycle() {
    obx::TaskManager tasks;
    ASSERT_TRUE(tasks.InitTask());
    tasks.RunTaskList();
  }
  std::string State(const std::string& id, const char* element, const char* attribute) {
    obx::TaskManager tasks;
    tasks.InitTask();
    return tasks.TaskList().GetAttribute(id, element, attribute);
  }
  void SetReg(const std::string& id, const std::string& name, const std::string& value) {
    obx::WriteRegString(obx::HKLM, obx::PatchInfoKey(id), name, value);
  }
  std::string Reg(const std::string& id, const std::string& name) {
    return obx::ReadRegString(obx::HKLM, obx::PatchInfoKey(id), name);
  }

  obxtest::TestMachine machine_;
  obxtest::FakeRuntime runtime_;
  boost::shared_ptr<obxtest::ScriptedInvoker> invoker_ =
      boost::make_shared<obxtest::ScriptedInvoker>();
  std::string folder_;
};

const char kPending[] = "<PatchExecute status=\"to_be_executed\" times=\"\"/>";

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

// A version record the report file could not take (a full disk) leaves its
// task unreported on disk, so the next cycle makes it again.
TEST_F(TaskRunnerTest, VersionRecordThatCouldNotBeStoredIsMadeAgain) {
  Store("<patch policyid=\"3\"/>", "<patch policyid=\"3\">" + std::string(kPending) + "</patch>");
  SetReg("3", "clientVersion", std::string(64 * 1024, 'v'));  // only the record is this large
  invoker_->Push(obxtest::ScriptedInvoker::Answer("true"));
  {
    obxtest::FileSizeLimit full(32 * 1024);
    Cycle();
  }
  EXPECT_TRUE(invoker_->Calls().empty());
  EXPECT_EQ("false", State("3", "versionReport", "status"));
  Cycle();
  EXPECT_EQ(1u, invoker_->Calls().size());
  EXPECT_EQ("true", State("3", "versionReport", "status"));
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

// Task 12 at the end of its patch stage: verdict given, kb1.sh named by the
// boot program and already downloaded, "repeate" set.
TEST_F(TaskRunnerTest, PatchStageEndsAsTheUserAndTheQuitRequestSay) {
  const PromptAnswer ok{platform::kIdOk, PromptAnswer::kUserAnswered};
  const PromptAnswer cancel{platform::kIdCancel, PromptAnswer::kUserAnswered};
  const PromptAnswer stopped{0, PromptAnswer::kStopped};
  const struct {
    const char* name;
    const char* exec;
    PromptAnswer answer;
    bool stopInDelay, tamper, result;
    std::string status, result1, ran, logged;
  } cases[] = {
      {"ok", "runtype=\"0\"", ok, false, false, true, "to_be_executed", "Running ...", "12 /q\n",
       "DoPatchFile: C:\\OBX\\download\\kb1.sh 12 /q will start"},
      {"cancel", "runtype=\"0\"", cancel, false, false, true, "done", " cancelled by user", "", ""},
      {"quit at the prompt", "runtype=\"0\"", stopped, false, false, false, "to_be_executed",
       "Running ...", "", "DoPatchFile:task 12 set back to to_be_executed: the agent is stopping"},
      {"negative delay", "runtype=\"1\" firstruntime=\"-1\"", ok, false, false, true,
       "to_be_executed", "Running ...", "12 /q\n", "DoPatchFile:task 12 :start in ::0"},
      {"quit in the delay", "runtype=\"1\" firstruntime=\"2\"", ok, true, false, false,
       "to_be_executed", "Running ...", "",
       "DoPatchFile:task 12 start delay cut short: the agent is stopping"},
      {"changed since the download", "runtype=\"0\"", ok, false, true, false, "to_be_executed",
       "Running ...", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove((folder_ + "/ran").c_str());
    const std::string md5 = Program("kb1.sh", "echo \"$@\" > '" + folder_ + "/ran'");
    if (c.tamper) obxtest::WriteFile(folder_ + "/download/kb1.sh", "#!/bin/sh\necho other\n");
    Store(
        "<patch policyid=\"12\"><download url=\"p/kb1.sh\" filename=\"kb1.sh\" md5=\"" + md5 +
            "\" type=\"http\"/><exec runargs=\"/q\" " + c.exec +
            "/><msgbox style=\"okcancel\" en=\"Install?\"/></patch>",
        "<patch policyid=\"12\">" + std::string(kPending) + "<download status=\"true\"/></patch>");
    SetReg("12", "patchFile", "kb1.sh");
    SetReg("12", "repeate", "true");
    machine_.prompt.Script({c.answer});
    platform::StopSource stop;
    platform::ScopedStopToken token(stop.Token());
    machine_.clock.SetSleepHook([&](uint32_t ms) {
      if (c.stopInDelay && ms > 0) stop.RequestStop();
    });
    runtime_.ClearLines();

    obx::TaskManager tasks;
    ASSERT_TRUE(tasks.InitTask());
    EXPECT_EQ(c.result, tasks.DoPatchFile("12"));
    EXPECT_EQ(c.status, tasks.TaskList().GetAttribute("12", "PatchExecute", "status"));
    EXPECT_EQ(c.tamper ? "false" : "true",
              tasks.TaskList().GetAttribute("12", "download", "status"));
    EXPECT_EQ(c.result1, Reg("12", "Result1"));
    EXPECT_EQ(c.ran, obxtest::ReadFile(folder_ + "/ran"));
    if (!c.logged.empty()) {
      EXPECT_TRUE(runtime_.Has(c.logged)) << c.logged;
    }
    machine_.clock.SetSleepHook(nullptr);
  }
}

// A program still running when the agent is asked to stop keeps running; the
// stage returns at once instead of waiting for it (three minutes for a boot
// program, without limit for a patch program).
TEST_F(TaskRunnerTest, QuitRequestEndsTheWaitForARunningProgram) {
  const std::string body = "echo $$ > '" + folder_ + "/pid'; exec sleep 600";
  const std::string md5 = Program("slow.sh", body);
  Store("<patch policyid=\"5\"><bootdownload url=\"b/slow.sh\" md5=\"" + md5 +
            "\"/><download url=\"p/slow.sh\" md5=\"" + md5 +
            "\" type=\"http\"/><exec runtype=\"0\"/></patch>",
        "<patch policyid=\"5\">" + std::string(kPending) +
            "<bootdownload status=\"true\"/><download status=\"true\"/></patch>");
  SetReg("5", "patchFileMD5", md5);
  const struct {
    const char* stage;
    bool result;
    std::string status, logged;
  } cases[] = {
      {"boot", false, "to_be_executed",
       "BootFile:task 5 boot program still running, left to finish: the agent is stopping"},
      {"patch", true, "done",
       "DoPatchFile:task 5 patch program still running, left to finish: the agent is stopping"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stage);
    std::remove((folder_ + "/pid").c_str());
    obx::TaskManager tasks;
    ASSERT_TRUE(tasks.InitTask());
    platform::StopSource stop;
    platform::ScopedStopToken token(stop.Token());
    std::thread stopper([&] {
      for (int i = 0; i < 3000 && obxtest::ReadFile(folder_ + "/pid").empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      stop.RequestStop();
    });
    const auto start = std::chrono::steady_clock::now();
    const bool result =
        std::string(c.stage) == "boot" ? tasks.BootFile("5") : tasks.DoPatchFile("5");
    const auto waited = std::chrono::steady_clock::now() - start;
    stopper.join();
    EXPECT_EQ(c.result, result);
    EXPECT_LT(waited, std::chrono::seconds(60));  // far below the three minutes
    EXPECT_TRUE(runtime_.Has(c.logged));
    EXPECT_EQ(c.status, tasks.TaskList().GetAttribute("5", "PatchExecute", "status"));
    const int pid = std::atoi(obxtest::ReadFile(folder_ + "/pid").c_str());
    ASSERT_GT(pid, 0);
    EXPECT_EQ(0, kill(pid, 0)) << "the program was ended";
    kill(pid, SIGKILL);
  }
}

}  // namespace
