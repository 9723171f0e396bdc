// The whole job on loopback: the real orsa-host running the agent for three
// cycles against obx-server's policy and repository, with shell-script boot
// and patch programs that answer through orsa-reg and note every start.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Digest.h"
#include "foundation/PatchPolicyManager.h"
#include "foundation/SettingsStore.h"
#include "tests/support/AgentSettings.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/HostProcess.h"
#include "tests/support/ObxServerProcess.h"
#include "tests/support/RegistryValues.h"
#include "tests/support/TempStateRoot.h"

namespace {

const char kCycleEnd[] = "************Wait for next schedule*********at lease (seconds):5";

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::string Md5(const std::string& text) {
  std::string out;
  obx::GetMd5Hex(text.data(), text.size(), out);
  return out;
}

class TaskRunEndToEnd : public ::testing::Test {
 protected:
  // A program of the repository that notes its start ("<name> <args>") in
  // runs and then does `then` (shell, "$KEY" is the task's registry key);
  // its MD5.
  std::string Program(const std::string& path, const std::string& then) {
    const std::string name = path.substr(path.rfind('/') + 1);
    const std::string text = "#!/bin/sh\nREG='" + obxtest::BinDir() +
                             "/orsa-reg'\nKEY='HKLM\\SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\ZEB\\"
                             "OBX\\PatchInfo\\'\"$1\"\necho \"" +
                             name + " $*\" >> '" + root.Sub("runs") + "'\n" + then + "\n";
    obxtest::WriteFile(root.Sub("repo/" + path), text);
    return Md5(text);
  }
  static std::string Set(const std::string& name, const std::string& value) {
    return "\"$REG\" add \"$KEY\" /v " + name + " /d '" + value + "' /f >/dev/null\n";
  }
  static std::string Task(const std::string& id, const std::string& boot, const std::string& md5,
                          const std::string& window, const std::string& more = "") {
    return "<patch policyid=\"" + id + "\"><check_os valid=\"windows\"/><bootdownload url=\"b/" +
           boot + "\" md5=\"" + md5 + "\" type=\"http\" validtime=\"" + window + "\"/>" + more +
           "</patch>";
  }
  void WritePolicy(const std::string& version, const std::string& window3006) {
    obxtest::WriteFile(root.Sub("policies/default.xml"),
                       "<patchs version=\"" + version + "\">" + tasks_ +
                           Task("3006", "window.sh", windowMd5_, window3006) + "</patchs>");
  }

  obxtest::TempStateRoot root;
  std::string tasks_;
  std::string windowMd5_;
};

TEST_F(TaskRunEndToEnd, ThreeCyclesOfBootAndPatchPrograms) {
  const std::string verdictTrue = Set("bootCheckResult", "true");
  const std::string patchOffer = "\" type=\"http\"/><exec runtype=\"0\" runargs=\"";
  std::vector<std::string> patches;
  for (const char* name : {"kb-a.sh", "kb-b.sh", "kb-c1.sh", "kb-c2.sh"})
    patches.push_back(Program(std::string("p/") + name, Set("Result1", name + std::string(" ok"))));
  Program("b/tampered.sh", verdictTrue);  // not what the policy names
  tasks_ = Task("3001", "boot-only.sh",
                Program("b/boot-only.sh", Set("Result1", "inventory") + verdictTrue), "0-24") +
           Task("3002", "by-name.sh",
                Program("b/by-name.sh", Set("patchFile", "kb-b.sh") + verdictTrue), "0-24",
                "<download url=\"p/kb-a.sh;p/kb-b.sh\" filename=\"kb-a.sh;kb-b.sh\" md5=\"" +
                    patches[0] + ";" + patches[1] + patchOffer + "/x\"/>") +
           Task("3003", "by-md5.sh",
                Program("b/by-md5.sh", Set("patchFileMD5", patches[3]) + verdictTrue), "0-24",
                "<download url=\"p/kb-c1.sh;p/kb-c2.sh\" md5=\"" + patches[2] + ";" + patches[3] +
                    patchOffer + "/y\"/>") +
           Task("3004", "tampered.sh", Md5("what the policy names"), "0-24") +
           Task("3005", "says-false.sh",
                Program("b/says-false.sh", Set("bootCheckResult", "false")), "0-24") +
           Task("3007", "no-verdict.sh", Program("b/no-verdict.sh", ""), "0-24");
  windowMd5_ = Program("b/window.sh", verdictTrue);
  WritePolicy("1", "0-0");  // the download window of 3006 admits no hour

  obxtest::ObxServerProcess server(
      root, {"--policies", root.Sub("policies"), "--repository", root.Sub("repo"),
             "--repository-prefix", "/repo/", "--db", root.Sub("reports.db"), "--verbose"});
  ASSERT_NE(server.Port(), 0) << server.Stderr();
  const std::string obx = root.Sub("obx");
  std::filesystem::create_directories(obx);
  obxtest::WriteAgentSettings(obx, server.Port(), server.Port(), "", 1);

  obxtest::HostProcess host(root, {"--root", root.Path()});
  const std::string log = root.Sub("logs/orsa-host.log");
  const auto cycles = [&](int n) {
    for (int i = 0; i < 1200 && Count(obxtest::ReadFile(log), kCycleEnd) < n; ++i) {
      if (kill(host.pid(), 0) != 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return Count(obxtest::ReadFile(log), kCycleEnd) >= n;
  };
  ASSERT_TRUE(cycles(1)) << obxtest::ReadFile(log) << host.Err();
  WritePolicy("2", "0-24");  // the next cycle fetches it: the window is open
  ASSERT_TRUE(cycles(3)) << obxtest::ReadFile(log) << host.Err();
  kill(host.pid(), SIGTERM);
  EXPECT_EQ(0, host.WaitExit(std::chrono::seconds(30))) << host.Err();

  const std::string text = obxtest::ReadFile(log);
  // Exactly the chosen patch files were fetched and run, with the task id
  // and runargs; the tampered boot program never ran; "false" is for good;
  // a boot program without a verdict runs until the try limit.
  const std::string runs = obxtest::ReadFile(root.Sub("runs"));
  for (const auto& [line, times] :
       std::vector<std::pair<std::string, int>>{{"boot-only.sh 3001\n", 1},
                                                {"kb-b.sh 3002 /x\n", 1},
                                                {"kb-c2.sh 3003 /y\n", 1},
                                                {"kb-a.sh", 0},
                                                {"kb-c1.sh", 0},
                                                {"tampered.sh", 0},
                                                {"says-false.sh 3005\n", 1},
                                                {"window.sh 3006\n", 1},
                                                {"no-verdict.sh 3007\n", 2}})
    EXPECT_EQ(times, Count(runs, line)) << line << "\n" << runs;
  const std::string requests = server.Stderr();
  EXPECT_EQ(0, Count(requests, "/repo/p/kb-a.sh")) << requests;
  EXPECT_EQ(0, Count(requests, "/repo/p/kb-c1.sh")) << requests;
  EXPECT_EQ(2, Count(requests, "GET /repo/b/tampered.sh 200")) << requests;
  EXPECT_EQ(1, Count(text, "BootFile:task 3006 is not in download time window")) << text;
  EXPECT_EQ(1, Count(text, "BootFile:bootfile executed already. result=false")) << text;
  for (const char* id : {"3004", "3005", "3007"})
    EXPECT_EQ(1, Count(text, "RunTaskList:task " + std::string(id) + " run overtimes")) << text;

  // The task table and the server's records tell the same story.
  obxtest::FakeRuntime runtime;
  runtime.Install();
  runtime.RegisterSealServices();
  obx::PatchPolicyManager taskList;
  ASSERT_TRUE(taskList.Load(obx + "/TaskList.xml", false));
  const std::string reports = obxtest::RunChild(root, obxtest::BinDir() + "/obx-server",
                                                {"reports", "--db", root.Sub("reports.db")})
                                  .out;
  const struct {
    const char *id, *status, *result1;
  } states[] = {{"3001", "done", "inventory"},       {"3002", "done", "kb-b.sh ok"},
                {"3003", "done", "kb-c2.sh ok"},     {"3004", "to_be_executed", nullptr},
                {"3005", "to_be_executed", nullptr}, {"3006", "done", "unknown"},
                {"3007", "to_be_executed", nullptr}};
  for (const auto& s : states) {
    SCOPED_TRACE(s.id);
    EXPECT_EQ(s.status, taskList.GetAttribute(s.id, "PatchExecute", "status"));
    const std::string head = "installResultInfo\t" + std::string(s.id) + "\t";
    EXPECT_EQ(s.result1 ? 1 : 0, Count(reports, head)) << reports;
    if (s.result1 != nullptr) {
      const std::string record = reports.substr(reports.find(head));
      EXPECT_NE(std::string::npos,
                record.find("<key>r1</key><value>" + std::string(s.result1) + "</value>"))
          << record;
    }
    EXPECT_EQ(1, Count(reports, "versionInfo\t" + std::string(s.id) + "\t")) << reports;
  }
  EXPECT_EQ("false", taskList.GetAttribute("3004", "bootdownload", "status"));
  EXPECT_EQ("false", taskList.GetAttribute("3005", "bootrun", "result"));
  EXPECT_EQ("3", taskList.GetAttribute("3007", "PatchExecute", "times"));
}

}  // namespace
