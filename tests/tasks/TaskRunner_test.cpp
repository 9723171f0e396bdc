// The task runner over sealed files, the test machine's clock and prompt, and
// task programs of the system (shell scripts, batch files on Windows) that
// answer through the registry: the walk and its try limit, the end of the
// patch stage, and the quit request in every wait.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Digest.h"
#include "foundation/RootException.h"
#include "platform/Prompt.h"
#include "platform/StopToken.h"
#include "tasks/ProgramMark.h"
#include "tests/support/RegistryValues.h"
#include "tests/tasks/TaskRunnerTest.h"

namespace {

using obxtest::TestProgram;
using platform::PromptAnswer;
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

// A walk cut by an exception (the computer name lookup failing for task 2's
// record) never leaves task 1 marked reported without its record.
TEST_F(TaskRunnerTest, AnExceptionInTheWalkLosesNoQueuedVersionRecord) {
  Store("<patch policyid=\"1\"/><patch policyid=\"2\"/>",
        "<patch policyid=\"1\">" + std::string(kPending) + "</patch><patch policyid=\"2\">" +
            kPending + "</patch>");
  machine_.facts.computerNameError = 5;
  machine_.facts.computerNameCallsBeforeError = 1;
  {
    obx::TaskManager tasks;
    ASSERT_TRUE(tasks.InitTask());
    EXPECT_THROW(tasks.RunTaskList(), obx::CRootException);
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

// A whole task in one walk: the boot program's answer in the registry decides
// whether the patch program it names runs, and that program's own answer is
// the task's result.
TEST_F(TaskRunnerTest, BootProgramsAnswerDecidesThePatchStage) {
  const std::string boot = TestProgram::Name("boot"), kb2 = TestProgram::Name("kb2");
  const std::string key = obx::PatchInfoKey("20");
  const std::string kb2Md5 =
      Program(kb2, TestProgram().RecordArguments(Native("ran")).SetValue(key, "Result1", "kb2 ok"));
  const struct {
    const char* verdict;
    std::vector<std::string> ran;
    const char *status, *result1;
    bool upperCaseMd5;  // as a policy may give them: the same digests
  } cases[] = {{"true", {"20 /q"}, "done", "kb2 ok", false},
               {"true", {"20 /q"}, "done", "kb2 ok", true},
               {"false", {}, "to_be_executed", "", false}};
  const auto digest = [](std::string md5, bool upper) {
    if (upper) std::transform(md5.begin(), md5.end(), md5.begin(), ::toupper);
    return md5;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.verdict) + (c.upperCaseMd5 ? " upper case" : ""));
    std::remove(Native("ran").c_str());
    SetReg("20", "Result1", "");
    const std::string bootMd5 = Program(boot, TestProgram()
                                                  .SetValue(key, "patchFile", kb2)
                                                  .SetValue(key, "bootCheckResult", c.verdict)
                                                  .Exit(0));
    Store("<patch policyid=\"20\"><bootdownload url=\"b/" + boot + "\" md5=\"" +
              digest(bootMd5, c.upperCaseMd5) + "\"/><download url=\"p/" + kb2 + "\" filename=\"" +
              kb2 + "\" md5=\"" + digest(kb2Md5, c.upperCaseMd5) +
              "\" type=\"http\"/><exec runtype=\"0\" runargs=\"/q\"/></patch>",
          "<patch policyid=\"20\">" + std::string(kPending) +
              "<bootdownload status=\"true\"/><download status=\"true\"/></patch>");
    Cycle();
    EXPECT_EQ(c.verdict, State("20", "bootrun", "result"));
    EXPECT_EQ(c.ran, obxtest::RecordedArguments(Native("ran")));
    EXPECT_EQ(c.status, State("20", "PatchExecute", "status"));
    EXPECT_EQ(c.result1, Reg("20", "Result1"));
  }
}

// Two programs whose MD5 the policy gives: the SHA-256 beside it decides which
// of two contents runs. No real MD5 collision pair here: each file's own MD5
// stands in the policy, so the MD5 check passes and only the SHA-256 can tell
// the wrong content. With the server key set, a task without SHA-256 is refused.
TEST_F(TaskRunnerTest, PolicySha256DecidesWhichContentRunsAndIsRequiredWithAKey) {
  const std::string boot = TestProgram::Name("boot"), kb2 = TestProgram::Name("kb2");
  const std::string key = obx::PatchInfoKey("21");
  const std::string bootMd5 = Program(boot, TestProgram()
                                                .RecordArguments(Native("ran"))
                                                .SetValue(key, "patchFile", kb2)
                                                .SetValue(key, "bootCheckResult", "true")
                                                .Exit(0));
  const std::string kb2Md5 = Program(kb2, TestProgram().RecordArguments(Native("ran")));
  std::string bootSha, kb2Sha;
  ASSERT_TRUE(obx::GetFileSha256Hex(Native("download\\" + boot), bootSha));
  ASSERT_TRUE(obx::GetFileSha256Hex(Native("download\\" + kb2), kb2Sha));
  const std::string otherSha(64, 'a');  // the other content of the same MD5
  std::string upperKb2Sha = kb2Sha;
  std::transform(upperKb2Sha.begin(), upperKb2Sha.end(), upperKb2Sha.begin(), ::toupper);
  const std::string refused =
      "refused: its file has no sha256 in the policy and a server key is set";
  const struct {
    const char* name;
    std::string bootSha, kb2Sha;
    bool keySet;
    std::vector<std::string> ran;
    std::string logged;
  } cases[] = {
      {"both right", bootSha, upperKb2Sha, false, {"21", "21"}, ""},
      {"both right, key set", bootSha, kb2Sha, true, {"21", "21"}, ""},
      {"no sha256, no key", "", "", false, {"21", "21"}, ""},
      {"boot wrong", otherSha, kb2Sha, false, {}, "or sha256 " + otherSha},
      {"patch wrong", bootSha, otherSha, false, {"21"}, "or sha256 " + otherSha},
      {"key set, boot without", "", kb2Sha, true, {}, "BootFile:task 21 " + refused},
      {"key set, patch without", bootSha, "", true, {"21"}, "DoPatchFile:task 21 " + refused},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(Native("ran").c_str());
    obx::WriteRegString(obx::HKLM, obx::kModuleKey, "ServerKey",
                        c.keySet ? "MCowBQYDK2VwAyEA" : "");
    const auto sha = [](const std::string& v) { return v.empty() ? "" : " sha256=\"" + v + "\""; };
    Store("<patch policyid=\"21\"><bootdownload url=\"b/" + boot + "\" md5=\"" + bootMd5 + "\"" +
              sha(c.bootSha) + "/><download url=\"p/" + kb2 + "\" filename=\"" + kb2 + "\" md5=\"" +
              kb2Md5 + "\"" + sha(c.kb2Sha) + " type=\"http\"/><exec runtype=\"0\"/></patch>",
          "<patch policyid=\"21\">" + std::string(kPending) +
              "<bootdownload status=\"true\"/><download status=\"true\"/></patch>");
    runtime_.ClearLines();
    Cycle();
    EXPECT_EQ(c.ran, obxtest::RecordedArguments(Native("ran")));
    const auto messages = runtime_.Messages();
    EXPECT_EQ(c.logged.empty() ? 0 : 1,
              std::count_if(messages.begin(), messages.end(), [&](const std::string& m) {
                return !c.logged.empty() && m.find(c.logged) != std::string::npos;
              }));
  }
}

// Task 12 at the end of its patch stage: verdict given, kb1 named by the boot
// program and already downloaded, "repeate" set.
TEST_F(TaskRunnerTest, PatchStageEndsAsTheUserAndTheQuitRequestSay) {
  const PromptAnswer ok{platform::kIdOk, PromptAnswer::kUserAnswered};
  const PromptAnswer cancel{platform::kIdCancel, PromptAnswer::kUserAnswered};
  const PromptAnswer stopped{0, PromptAnswer::kStopped};
  const std::string kb1 = TestProgram::Name("kb1");
  const struct {
    const char* name;
    const char* exec;
    PromptAnswer answer;
    bool stopInDelay, tamper, result;
    std::string status, result1;
    std::vector<std::string> ran;
    std::string logged;
  } cases[] = {
      {"ok",
       "runtype=\"0\"",
       ok,
       false,
       false,
       true,
       "to_be_executed",
       "Running ...",
       {"12 /q"},
       "DoPatchFile: C:\\OBX\\download\\" + kb1 + " 12 /q will start"},
      {"cancel", "runtype=\"0\"", cancel, false, false, true, "done", " cancelled by user", {}, ""},
      {"quit at the prompt",
       "runtype=\"0\"",
       stopped,
       false,
       false,
       false,
       "to_be_executed",
       "Running ...",
       {},
       "DoPatchFile:task 12 left to_be_executed: the agent is stopping"},
      {"negative delay",
       "runtype=\"1\" firstruntime=\"-1\"",
       ok,
       false,
       false,
       true,
       "to_be_executed",
       "Running ...",
       {"12 /q"},
       "DoPatchFile:task 12 :start in ::0"},
      {"quit in the delay",
       "runtype=\"1\" firstruntime=\"2\"",
       ok,
       true,
       false,
       false,
       "to_be_executed",
       "Running ...",
       {},
       "DoPatchFile:task 12 start delay cut short: the agent is stopping"},
      // Found before the delay and the question, which would be wasted.
      {"changed since the download",
       "runtype=\"1\" firstruntime=\"2\"",
       ok,
       false,
       true,
       false,
       "to_be_executed",
       "",
       {},
       ""},
      // Not a program: its failure is its result.
      {"cannot start",
       "runtype=\"0\"",
       ok,
       false,
       false,
       true,
       "to_be_executed",
       " Create process C:\\OBX\\download\\bad.exe 12 /q failed:193",
       {},
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(Native("ran").c_str());
    std::string md5 = Program(kb1, TestProgram().RecordArguments(Native("ran")));
    if (c.tamper) obxtest::WriteFile(Native("download\\" + kb1), "changed");
    // Not a program on any system.
    const bool garbage = std::string(c.name) == "cannot start";
    const std::string file = garbage ? "bad.exe" : kb1;
    if (garbage) {
      obxtest::WriteFile(Native("download\\bad.exe"), "garbage");
      obx::GetMd5Hex("garbage", 7, md5);
    }
    SetReg("12", "Result1", "");
    Store(
        "<patch policyid=\"12\"><download url=\"p/" + file + "\" filename=\"" + file + "\" md5=\"" +
            md5 + "\" type=\"http\"/><exec runargs=\"/q\" " + c.exec +
            "/><msgbox style=\"okcancel\" en=\"Install?\"/></patch>",
        "<patch policyid=\"12\">" + std::string(kPending) + "<download status=\"true\"/></patch>");
    SetReg("12", "patchFile", file);
    SetReg("12", "repeate", "true");
    machine_.prompt.Script({c.answer});
    platform::StopSource stop;
    platform::ScopedStopToken token(stop.Token());
    machine_.clock.SetSleepHook([&](uint32_t ms) {
      if (c.stopInDelay && ms > 0) stop.RequestStop();
    });
    runtime_.ClearLines();
    const size_t asked = machine_.prompt.Questions().size();

    obx::TaskManager tasks;
    ASSERT_TRUE(tasks.InitTask());
    EXPECT_EQ(c.result, tasks.DoPatchFile("12"));
    if (c.tamper) {
      EXPECT_EQ(asked, machine_.prompt.Questions().size());
      EXPECT_FALSE(runtime_.HasPrefix("DoPatchFile:task 12 :start in"));
    }
    EXPECT_EQ(c.status, tasks.TaskList().GetAttribute("12", "PatchExecute", "status"));
    EXPECT_EQ(c.tamper ? "false" : "true",
              tasks.TaskList().GetAttribute("12", "download", "status"));
    EXPECT_EQ(c.result1, Reg("12", "Result1"));
    EXPECT_EQ(c.ran, obxtest::RecordedArguments(Native("ran")));
    if (!c.logged.empty()) {
      EXPECT_TRUE(runtime_.Has(c.logged)) << c.logged;
    }
    machine_.clock.SetSleepHook(nullptr);
  }
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
