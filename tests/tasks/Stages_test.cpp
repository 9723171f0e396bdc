// The boot and patch stages on fakes: the task's entries in memory, the
// registry values in a map, and downloads, programs, clock and prompt that do
// what each case says. No sealed file, registry or task program.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
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
    if (outcome != WaitResult::kExited) return false;  // no answer yet
    for (const auto& value : leaves) values->Write(value.first.c_str(), value.second);
    return true;
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
  bool Wait(uint32_t) override { return !stop; }
  bool stop = false;
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
  // What a stage left, in one line: its result, the programs started, then
  // `element`/`attribute` of the task list as "name=value" for each pair.
  std::string Left(bool result, std::initializer_list<std::pair<const char*, const char*>> read) {
    std::string left = result ? "true" : "false";
    left += " started=" + std::to_string(launcher.started.size());
    for (const auto& at : read)
      left += std::string(" ") + at.second + "=" + Entry(at.first, at.second);
    return left;
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

// Only what differs from a boot program that runs and answers "true".
struct BootGiven {
  std::string verdict{}, note{};
  bool holds = true;
  WaitResult outcome = WaitResult::kExited;
  bool stillRunning = false, keySet = false;
  std::string sha256{};
};

TEST(BootStageTest, VerdictNoteAndFileDecideWhetherTheBootProgramRuns) {
  const WaitResult stopped = WaitResult::kStopped;
  // Left: result, programs started, then the task list's verdict, boot
  // download status and start note.
  const struct {
    BootGiven given;
    const char* left;
    const char* logged;
  } cases[] = {
      {{}, "true started=1 result=true status=true started=", ""},
      {{"true"},
       "false started=0 result=true status=true started=",
       "BootFile:bootfile resule=true and no patchFile"},
      {{"false"},
       "false started=0 result=false status=true started=",
       "BootFile:bootfile executed already. result=false"},
      {{"", "7 1", true, WaitResult::kExited, true},
       "false started=0 result= status=true started=7 1",
       "BootFile:task 12 boot program still running, its verdict waits"},
      {{"", "7 1"},
       "true started=0 result=true status=true started=",
       "BootFile:task 12 boot program started before has ended, its verdict is read"},
      {{"", "", false},
       "false started=0 result= status=false started=",
       "BootFile:task 12 C:\\OBX\\download\\b.sh does not match its md5 m, it is downloaded again"},
      {{"", "", true, stopped},
       "false started=1 result= status=true started=100 42",
       "BootFile:task 12 boot program still running, left to finish: the agent is stopping"},
      // Ended in time without an answer: nothing of an earlier run counts.
      {{"", "", true, WaitResult::kTimedOut},
       "false started=1 result= status=true started=",
       "BootFile:task 12 boot file running failed "},
      {{"", "", true, WaitResult::kExited, false, true},
       "false started=0 result= status=true started=",
       "BootFile:task 12 refused: its file has no sha256 in the policy and a server key is set"},
      {{"", "", true, WaitResult::kExited, false, true, "ab"},
       "true started=1 result=true status=true started=",
       ""},
  };
  for (const auto& c : cases) {
    const BootGiven& g = c.given;
    Stage s;
    s.policy->attributes = {{{"bootdownload", "url"}, "b/b.sh"},
                            {{"bootdownload", "md5"}, "m"},
                            {{"bootdownload", "sha256"}, g.sha256},
                            {{"download", "url"}, "p/kb.sh"}};
    s.entry->attributes = {{{"bootdownload", "status"}, "true"},
                           {{"bootrun", "result"}, g.verdict},
                           {{"bootrun", "started"}, g.note}};
    // Left by an earlier run, or by the program started before.
    s.values.values["bootCheckResult"] = g.note.empty() ? "stale" : "true";
    s.launcher.leaves = {{"bootCheckResult", "true"}};
    s.launcher.outcome = g.outcome;
    s.launcher.stillRunning = g.stillRunning;
    s.downloads.holds = {g.holds};
    s.keySet = g.keySet;
    const bool result = s.RunBoot();
    EXPECT_EQ(c.left,
              s.Left(result,
                     {{"bootrun", "result"}, {"bootdownload", "status"}, {"bootrun", "started"}}));
    if (*c.logged != '\0') {
      EXPECT_TRUE(s.runtime.Has(c.logged)) << c.logged;
    }
    // A start is noted and written before the program runs, again with its
    // process once it does; the task id is its one argument.
    EXPECT_EQ(2 * s.launcher.started.size(), static_cast<size_t>(s.saves));
    for (const std::string& line : s.launcher.started)
      EXPECT_EQ("C:\\OBX\\download\\b.sh 12", line);
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
  EXPECT_FALSE(s.RunBoot());  // answered: not run again
  EXPECT_EQ(std::vector<std::string>{"b.sh"}, s.downloads.fetched);
  EXPECT_EQ("true started=1 result=false status=true downloadType=http",
            s.Left(true, {{"bootrun", "result"},
                          {"bootdownload", "status"},
                          {"bootdownload", "downloadType"}}));
}

// Only what differs from task 12 at its patch stage with the verdict given,
// kb.sh named by the boot program and downloaded, "repeate" set, no delay
// and the user saying OK.
struct PatchGiven {
  PatchMessageOutcome answer = PatchMessageOutcome::kOk;
  std::vector<bool> holds{true};
  WaitResult outcome = WaitResult::kExited;
  const char* firstRun = nullptr;  // with a start delay
  bool stopInDelay = false;
};

TEST(PatchStageTest, EndsAsTheFileTheUserAndTheQuitRequestSay) {
  using O = PatchMessageOutcome;
  const WaitResult ended = WaitResult::kExited;
  const std::string run = " C:\\OBX\\download\\kb.sh 12 /q";
  // Left: result, programs started, then the task list's execute state,
  // download status and start note, then Result1 and the questions asked.
  const struct {
    PatchGiven given;
    std::string left;
    std::string logged;
  } cases[] = {
      {{},
       "true started=1 status=to_be_executed status=true started=100 42|Running ...|1",
       "DoPatchFile:" + run + " will start"},
      {{O::kCancelled}, "true started=0 status=done status=true started=| cancelled by user|1", ""},
      {{O::kStopped},
       "false started=0 status=to_be_executed status=true started=|Running ...|1",
       "DoPatchFile:task 12 left to_be_executed: the agent is stopping"},
      {{O::kNotShown},
       "false started=0 status=to_be_executed status=true started=|Running ...|1",
       ""},
      {{O::kNoMessage, {true}, ended, "-1"},
       "true started=1 status=to_be_executed status=true started=100 42|Running ...|1",
       "DoPatchFile:task 12 :start in ::0"},
      {{O::kOk, {true}, ended, "2", true},
       "false started=0 status=to_be_executed status=true started=|Running ...|0",
       "DoPatchFile:task 12 start delay cut short: the agent is stopping"},
      // Found before the delay and the question, which would be wasted.
      {{O::kOk, {false}, ended, "2"},
       "false started=0 status=to_be_executed status=false started=||0",
       ""},
      {{O::kOk, {true, false}},
       "false started=0 status=to_be_executed status=false started=|Running ...|1",
       ""},
      // Its failure, not "Running ...", is the result.
      {{O::kOk, {true}, WaitResult::kFailed},
       "true started=1 status=to_be_executed status=true started=100| Create process" + run +
           " failed:193|1",
       ""},
      {{O::kOk, {true}, WaitResult::kStopped},
       "false started=1 status=to_be_executed status=true started=100 42|Running ...|1",
       "DoPatchFile:task 12 patch program still running, left to finish: the agent is stopping"},
  };
  for (const auto& c : cases) {
    const PatchGiven& g = c.given;
    Stage s;
    s.policy->attributes = {{{"download", "url"}, "p/kb.sh"},
                            {{"download", "filename"}, "kb.sh"},
                            {{"download", "md5"}, "m"},
                            {{"exec", "runargs"}, "/q"},
                            {{"exec", "runtype"}, g.firstRun ? "1" : "0"},
                            {{"exec", "firstruntime"}, g.firstRun ? g.firstRun : ""}};
    s.entry->attributes = {{{"PatchExecute", "status"}, "to_be_executed"},
                           {{"download", "status"}, "true"}};
    s.values.values = {{"patchFile", "kb.sh"}, {"repeate", "true"}};
    s.prompt.answer = g.answer;
    s.clock.stop = g.stopInDelay;
    s.downloads.holds = g.holds;
    s.launcher.outcome = g.outcome;
    const bool result = s.RunPatch();
    EXPECT_EQ(c.left, s.Left(result, {{"PatchExecute", "status"},
                                      {"download", "status"},
                                      {"PatchExecute", "started"}}) +
                          "|" + s.values.Read("Result1") + "|" + std::to_string(s.prompt.asked));
    if (!c.logged.empty()) {
      EXPECT_TRUE(s.runtime.Has(c.logged)) << c.logged;
    }
  }
}

TEST(PatchStageTest, WithoutRepeatTheTaskIsDoneAndAKeyRequiresASha256) {
  for (const bool keySet : {false, true}) {
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
    const bool result = s.RunPatch();
    EXPECT_EQ(keySet ? "false started=0 status=to_be_executed downloadType="
                     : "true started=1 status=done downloadType=http",
              s.Left(result, {{"PatchExecute", "status"}, {"download", "downloadType"}}));
  }
}

}  // namespace
