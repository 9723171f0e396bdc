// The boot and patch stages on fakes: the task's entries in memory, the
// registry values in a map, and downloads, programs, clock and prompt that do
// what each case says. No sealed file, registry or task program.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "records/TaskRecord.h"
#include "tasks/BootStage.h"
#include "tasks/PatchStage.h"
#include "tasks/StageCollaborators.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/MemoryEntry.h"

namespace {

using obx::PatchMessageOutcome;
using platform::WaitResult;

struct FakeValues : obx::TaskValues {
  std::string Read(const char* name) const override {
    const auto found = values.find(name);
    return found == values.end() ? std::string() : found->second;
  }
  void Write(const char* name, const std::string& value) override { values[name] = value; }
  std::map<std::string, std::string> values;
};

struct FakeDownloads : obx::Downloads {
  bool Fetch(const std::string&, const std::string&, const std::string& fileName,
             const std::string&, const std::string&, std::string& usedType) override {
    fetched.push_back(fileName);
    usedType = "http";
    return true;
  }
  // Answers in turn from `holds`, the last one for ever after.
  bool HoldsExpected(const std::string&, const std::string&, const std::string&) override {
    const bool answer = holds.at(checks < holds.size() ? checks : holds.size() - 1);
    ++checks;
    return answer;
  }
  std::vector<bool> holds{true};
  size_t checks = 0;
  std::vector<std::string> fetched;
};

// A program that ends as `outcome` says, leaving `leaves` in the task's values.
struct FakeLauncher : obx::ProgramLauncher {
  bool Run(const std::string& commandLine, uint32_t, obx::ProgramRun& run) override {
    started.push_back(commandLine);
    run.outcome = outcome;
    if (outcome == WaitResult::kFailed) {
      run.failure = " Create process " + commandLine + " failed:193";
      return false;
    }
    if (run.started) run.started(42);
    for (const auto& value : leaves) values->Write(value.first.c_str(), value.second);
    return outcome == WaitResult::kExited;
  }
  std::string NewStartNote() override { return "100"; }
  std::string NoteWithProcess(const std::string& note, int pid) override {
    return note + " " + std::to_string(pid);
  }
  bool StillRunning(const std::string&, uint32_t, bool) override { return stillRunning; }
  WaitResult outcome = WaitResult::kExited;
  std::map<std::string, std::string> leaves;
  bool stillRunning = false;
  FakeValues* values = nullptr;
  std::vector<std::string> started;
};

struct FakeClock : obx::StageClock {
  bool Wait(uint32_t ms) override {
    waits.push_back(ms);
    return !stop;
  }
  bool stop = false;
  std::vector<uint32_t> waits;
};

struct FakePrompt : obx::PatchPrompt {
  PatchMessageOutcome Ask(const obx::PolicyEntry&) override {
    ++asked;
    return answer;
  }
  PatchMessageOutcome answer = PatchMessageOutcome::kNoMessage;
  int asked = 0;
};

// Task 12 with its entries, values and collaborators.
struct Stage {
  Stage() {
    runtime.Install();
    launcher.values = &values;
  }
  obx::TaskRecord Task() { return obx::TaskRecord(obx::PolicyEntry(policy, "12"), entry); }
  obx::StageCollaborators With() {
    return obx::StageCollaborators{
        downloads,           launcher, values, clock, prompt, [this] { ++saves; },
        "C:\\OBX\\download", keySet};
  }
  bool RunBoot() {
    obx::TaskRecord task = Task();
    obx::StageCollaborators with = With();
    return obx::BootStage(task, with).Run();
  }
  bool RunPatch() {
    obx::TaskRecord task = Task();
    obx::StageCollaborators with = With();
    return obx::PatchStage(task, with).Run();
  }
  std::string Entry(const char* element, const char* attribute) {
    return entry->Get(element, attribute);
  }

  obxtest::FakeRuntime runtime;
  std::shared_ptr<obxtest::MemoryEntry> policy = std::make_shared<obxtest::MemoryEntry>();
  std::shared_ptr<obxtest::MemoryEntry> entry = std::make_shared<obxtest::MemoryEntry>();
  FakeValues values;
  FakeDownloads downloads;
  FakeLauncher launcher;
  FakeClock clock;
  FakePrompt prompt;
  bool keySet = false;
  int saves = 0;
};

TEST(BootStageTest, VerdictNoteAndFileDecideWhetherTheBootProgramRuns) {
  const std::string refused =
      "BootFile:task 12 refused: its file has no sha256 in the policy and a server key is set";
  const struct {
    const char* name;
    std::string verdict, note, sha256;
    bool keySet, stillRunning, holds;
    WaitResult outcome;
    bool result;
    std::vector<std::string> started;
    std::string storedVerdict, downloadStatus, logged;
  } cases[] = {
      {"runs and answers",
       "",
       "",
       "",
       false,
       false,
       true,
       WaitResult::kExited,
       true,
       {"C:\\OBX\\download\\b.sh 12"},
       "true",
       "true",
       ""},
      {"answered true before, no patch named",
       "true",
       "",
       "",
       false,
       false,
       true,
       WaitResult::kExited,
       false,
       {},
       "true",
       "true",
       "BootFile:bootfile resule=true and no patchFile"},
      {"answered false before",
       "false",
       "",
       "",
       false,
       false,
       true,
       WaitResult::kExited,
       false,
       {},
       "false",
       "true",
       "BootFile:bootfile executed already. result=false"},
      {"started before, still running",
       "",
       "7 1",
       "",
       false,
       true,
       true,
       WaitResult::kExited,
       false,
       {},
       "",
       "true",
       "BootFile:task 12 boot program still running, its verdict waits"},
      {"started before, ended",
       "",
       "7 1",
       "",
       false,
       false,
       true,
       WaitResult::kExited,
       true,
       {},
       "true",
       "true",
       "BootFile:task 12 boot program started before has ended, its verdict is read"},
      {"changed since the download",
       "",
       "",
       "",
       false,
       false,
       false,
       WaitResult::kExited,
       false,
       {},
       "",
       "false",
       ""},
      {"stopped while it runs",
       "",
       "",
       "",
       false,
       false,
       true,
       WaitResult::kStopped,
       false,
       {"C:\\OBX\\download\\b.sh 12"},
       "",
       "true",
       "BootFile:task 12 boot program still running, left to finish: the agent is stopping"},
      {"key set, no sha256",
       "",
       "",
       "",
       true,
       false,
       true,
       WaitResult::kExited,
       false,
       {},
       "",
       "true",
       refused},
      {"key set, sha256 given",
       "",
       "",
       "ab",
       true,
       false,
       true,
       WaitResult::kExited,
       true,
       {"C:\\OBX\\download\\b.sh 12"},
       "true",
       "true",
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Stage s;
    s.policy->attributes = {{{"bootdownload", "url"}, "b/b.sh"},
                            {{"bootdownload", "md5"}, "m"},
                            {{"bootdownload", "sha256"}, c.sha256},
                            {{"download", "url"}, "p/kb.sh"}};
    s.entry->attributes = {{{"bootdownload", "status"}, "true"},
                           {{"bootrun", "result"}, c.verdict},
                           {{"bootrun", "started"}, c.note}};
    s.values.values["bootCheckResult"] = c.note.empty() ? "stale" : "true";
    s.launcher.leaves = {{"bootCheckResult", "true"}};
    s.launcher.outcome = c.outcome;
    s.launcher.stillRunning = c.stillRunning;
    s.downloads.holds = {c.holds};
    s.keySet = c.keySet;
    EXPECT_EQ(c.result, s.RunBoot());
    EXPECT_EQ(c.started, s.launcher.started);
    EXPECT_EQ(c.storedVerdict, s.Entry("bootrun", "result"));
    EXPECT_EQ(c.downloadStatus, s.Entry("bootdownload", "status"));
    if (!c.logged.empty()) {
      EXPECT_TRUE(s.runtime.Has(c.logged)) << c.logged;
    }
    if (!c.started.empty()) {
      // Noted (and written) before the start, with its process once it ran;
      // kept only while no verdict has been taken.
      EXPECT_EQ(c.outcome == WaitResult::kStopped ? "100 42" : "", s.Entry("bootrun", "started"));
      EXPECT_EQ(2, s.saves);
    }
  }
}

TEST(BootStageTest, DownloadsOnlyWhenTheTaskListSaysSoAndNotesTheType) {
  Stage s;
  s.policy->attributes = {{{"bootdownload", "url"}, "b/b.sh"},
                          {{"bootdownload", "md5"}, "m"},
                          {{"bootdownload", "type"}, "p2p;http"}};
  s.entry->attributes = {{{"bootdownload", "status"}, "false"}};
  s.launcher.leaves = {{"bootCheckResult", "false"}};
  EXPECT_TRUE(s.RunBoot());
  EXPECT_EQ(std::vector<std::string>{"b.sh"}, s.downloads.fetched);
  EXPECT_EQ("true", s.Entry("bootdownload", "status"));
  EXPECT_EQ("http", s.Entry("bootdownload", "downloadType"));
  EXPECT_EQ("false", s.Entry("bootrun", "result"));
  EXPECT_TRUE(s.RunBoot() == false && s.downloads.fetched.size() == 1u);  // answered: no rerun
}

// Task 12 at its patch stage: verdict given, kb.sh named by the boot program
// and downloaded, "repeate" set.
TEST(PatchStageTest, EndsAsTheFileTheUserAndTheQuitRequestSay) {
  using O = PatchMessageOutcome;
  const std::string start = "C:\\OBX\\download\\kb.sh 12 /q";
  const struct {
    const char* name;
    const char* runtype;
    const char* firstRun;
    O answer;
    bool stopInDelay;
    std::vector<bool> holds;
    WaitResult outcome;
    bool result;
    std::string status, result1, downloadStatus;
    std::vector<std::string> started;
    int asked;
    std::string logged;
  } cases[] = {
      {"ok",
       "0",
       "",
       O::kOk,
       false,
       {true},
       WaitResult::kExited,
       true,
       "to_be_executed",
       "Running ...",
       "true",
       {start},
       1,
       "DoPatchFile: " + start + " will start"},
      {"cancel",
       "0",
       "",
       O::kCancelled,
       false,
       {true},
       WaitResult::kExited,
       true,
       "done",
       " cancelled by user",
       "true",
       {},
       1,
       ""},
      {"quit at the prompt",
       "0",
       "",
       O::kStopped,
       false,
       {true},
       WaitResult::kExited,
       false,
       "to_be_executed",
       "Running ...",
       "true",
       {},
       1,
       "DoPatchFile:task 12 left to_be_executed: the agent is stopping"},
      {"message not shown",
       "0",
       "",
       O::kNotShown,
       false,
       {true},
       WaitResult::kExited,
       false,
       "to_be_executed",
       "Running ...",
       "true",
       {},
       1,
       ""},
      {"negative delay",
       "1",
       "-1",
       O::kNoMessage,
       false,
       {true},
       WaitResult::kExited,
       true,
       "to_be_executed",
       "Running ...",
       "true",
       {start},
       1,
       "DoPatchFile:task 12 :start in ::0"},
      {"quit in the delay",
       "1",
       "2",
       O::kOk,
       true,
       {true},
       WaitResult::kExited,
       false,
       "to_be_executed",
       "Running ...",
       "true",
       {},
       0,
       "DoPatchFile:task 12 start delay cut short: the agent is stopping"},
      // Found before the delay and the question, which would be wasted.
      {"changed since the download",
       "1",
       "2",
       O::kOk,
       false,
       {false},
       WaitResult::kExited,
       false,
       "to_be_executed",
       "",
       "false",
       {},
       0,
       ""},
      {"changed while the user was asked",
       "0",
       "",
       O::kOk,
       false,
       {true, false},
       WaitResult::kExited,
       false,
       "to_be_executed",
       "Running ...",
       "false",
       {},
       1,
       ""},
      {"cannot start",
       "0",
       "",
       O::kOk,
       false,
       {true},
       WaitResult::kFailed,
       true,
       "to_be_executed",
       " Create process " + start + " failed:193",
       "true",
       {start},
       1,
       ""},
      {"stopped while it runs",
       "0",
       "",
       O::kOk,
       false,
       {true},
       WaitResult::kStopped,
       false,
       "to_be_executed",
       "Running ...",
       "true",
       {start},
       1,
       "DoPatchFile:task 12 patch program still running, left to finish: the agent is stopping"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Stage s;
    s.policy->attributes = {
        {{"download", "url"}, "p/kb.sh"}, {{"download", "filename"}, "kb.sh"},
        {{"download", "md5"}, "m"},       {{"exec", "runargs"}, "/q"},
        {{"exec", "runtype"}, c.runtype}, {{"exec", "firstruntime"}, c.firstRun}};
    s.entry->attributes = {{{"PatchExecute", "status"}, "to_be_executed"},
                           {{"download", "status"}, "true"}};
    s.values.values = {{"patchFile", "kb.sh"}, {"repeate", "true"}};
    s.prompt.answer = c.answer;
    s.clock.stop = c.stopInDelay;
    s.downloads.holds = c.holds;
    s.launcher.outcome = c.outcome;
    EXPECT_EQ(c.result, s.RunPatch());
    EXPECT_EQ(c.status, s.Entry("PatchExecute", "status"));
    EXPECT_EQ(c.result1, s.values.Read("Result1"));
    EXPECT_EQ(c.downloadStatus, s.Entry("download", "status"));
    EXPECT_EQ(c.started, s.launcher.started);
    EXPECT_EQ(c.asked, s.prompt.asked);
    if (!c.logged.empty()) {
      EXPECT_TRUE(s.runtime.Has(c.logged)) << c.logged;
    }
    // Noted before the start, with its process once it runs; the walk drops
    // the note once the result is handed over.
    const bool failed = c.outcome == WaitResult::kFailed;
    EXPECT_EQ(c.started.empty() ? ""
              : failed          ? "100"
                                : "100 42",
              s.Entry("PatchExecute", "started"));
  }
}

TEST(PatchStageTest, WithoutRepeatTheTaskIsDoneAndAKeyRequiresASha256) {
  for (const bool keySet : {false, true}) {
    SCOPED_TRACE(keySet);
    Stage s;
    s.policy->attributes = {{{"download", "url"}, "p/kb.sh"},
                            {{"download", "filename"}, "kb.sh"},
                            {{"download", "md5"}, "m"},
                            {{"download", "type"}, "http"},
                            {{"exec", "runtype"}, "0"}};
    s.entry->attributes = {{{"PatchExecute", "status"}, "to_be_executed"},
                           {{"download", "status"}, "false"}};
    s.values.values = {{"patchFile", "kb.sh"}};
    s.keySet = keySet;
    EXPECT_EQ(!keySet, s.RunPatch());
    EXPECT_EQ(keySet ? "to_be_executed" : "done", s.Entry("PatchExecute", "status"));
    EXPECT_EQ(keySet ? 0u : 1u, s.downloads.fetched.size());
    EXPECT_EQ(keySet ? "" : "http", s.Entry("download", "downloadType"));
  }
}

}  // namespace
