// The agent when its management server is away, slow or silent: the cycle
// goes on with what the agent has, nothing pending is lost, and a stop does
// not wait for the server.
#include <gtest/gtest.h>
#include <signal.h>

#include <boost/make_shared.hpp>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "cycle/PolicyUpdate.h"
#include "foundation/Digest.h"
#include "host/CompositeManifest.h"
#include "host/services/SdoHelper.h"
#include "host/services/SecurityHelper.h"
#include "host/services/SoapCodec.h"
#include "host/services/WebServiceInvoker.h"
#include "host/services/ZipHelper.h"
#include "orsa/Seal.h"
#include "records/ReportInfo.h"
#include "tasks/TaskManager.h"
#include "tests/host/LoopbackHttpServer.h"
#include "tests/support/AgentSettings.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/HostProcess.h"
#include "tests/support/ObxServerProcess.h"
#include "tests/support/TestMachine.h"

namespace {

namespace fs = std::filesystem;
using obxtest::HostProcess;

const char kCycleEnd[] = "************Wait for next schedule*********";

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Two boot-only tasks whose programs note their runs in runs-<id> and answer
// "true": each leaves a result and a version record.
class ServerFaults : public ::testing::Test {
 protected:
  // The policy text; the programs go to `repo` (and, already downloaded, to
  // `download` when given).
  std::string Policy(const std::string& repo, const std::string& download = "") {
    std::string tasks;
    for (const std::string id : {"7001", "7002"}) {
      const std::string program =
          "#!/bin/sh\nREG='" + obxtest::BinDir() +
          "/orsa-reg'\nKEY='HKLM\\SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\ZEB\\OBX\\PatchInfo\\'"
          "\"$1\"\necho \"$1\" >> '" +
          Runs(id) +
          "'\n\"$REG\" add \"$KEY\" /v Result1 /d ok /f >/dev/null\n"
          "\"$REG\" add \"$KEY\" /v bootCheckResult /d true /f >/dev/null\n";
      obxtest::WriteFile(repo + "/b" + id + ".sh", program);
      if (!download.empty()) {
        obxtest::WriteFile(download + "/b" + id + ".sh", program);
        fs::permissions(download + "/b" + id + ".sh", fs::perms::owner_exec, fs::perm_options::add);
      }
      std::string md5;
      obx::GetMd5Hex(program.data(), program.size(), md5);
      tasks += "<patch policyid=\"" + id + "\"><check_os valid=\"windows\"/><bootdownload url=\"b" +
               id + ".sh\" md5=\"" + md5 + "\" type=\"http\" validtime=\"0-24\"/></patch>";
    }
    return "<patchs version=\"v1\">" + tasks + "</patchs>";
  }
  std::string Runs(const std::string& id) const { return runs + "-" + id; }
  // The records of the report file, as "type id" texts.
  std::vector<std::string> Pending(const std::string& file) const {
    std::vector<std::string> out;
    const std::string text = obxtest::ReadFile(file);
    for (size_t at = text.find("<map type=\""); at != std::string::npos;
         at = text.find("<map type=\"", at + 1)) {
      const size_t typeEnd = text.find('"', at + 11);
      const size_t id = text.find("id=\"", typeEnd) + 4;
      out.push_back(text.substr(at + 11, typeEnd - at - 11) + " " +
                    text.substr(id, text.find('"', id) - id));
    }
    return out;
  }

  std::string runs = fs::temp_directory_path() / ("obx-runs-" + std::to_string(::getpid()));
  void TearDown() override {
    for (const char* id : {"7001", "7002"}) fs::remove(Runs(id));
  }
};

// Three cycles without a management server, on the stored policy: the tasks
// run once and their records wait; once the server listens again at its
// address every one of them reaches it in the next cycle.
TEST_F(ServerFaults, PendingRecordsArriveOnceTheManagementServerIsBack) {
  obxtest::TempStateRoot root;
  const std::string install = root.Sub("obx");
  fs::create_directories(root.Sub("repo"));
  fs::create_directories(root.Sub("policies"));
  const std::string policy = Policy(root.Sub("repo"));
  orsahost::SecurityHelper security;
  orsahost::ZipHelper zip;
  obxtest::WriteFile(install + "/PatchPolicy.xml", orsa::SealWith(security, zip, orsa::kPassphrase,
                                                                  policy.data(), policy.size()));
  const std::vector<std::string> managementOptions = {"--policies",   root.Sub("policies"),
                                                      "--repository", root.Sub("repo"),
                                                      "--db",         root.Sub("reports.db")};
  int managementPort = 0;
  {
    // Its port, free again once it has stopped.
    obxtest::ObxServerProcess away(root, managementOptions, "127.0.0.1:0", "management");
    managementPort = away.Port();
    ASSERT_NE(managementPort, 0) << away.Stderr();
  }
  obxtest::ObxServerProcess downloads(
      root, {"--policies", root.Sub("policies"), "--repository", root.Sub("repo"),
             "--repository-prefix", "/repo/", "--db", root.Sub("downloads.db")});
  ASSERT_NE(downloads.Port(), 0) << downloads.Stderr();
  obxtest::WriteAgentSettings(install, managementPort, downloads.Port());

  HostProcess host(root, {"--root", root.Path()});
  const std::string log = root.Sub("logs/orsa-host.log");
  const auto cycles = [&](int n) {
    for (int i = 0; i < 600 && Count(obxtest::ReadFile(log), kCycleEnd) < n; ++i) {
      if (kill(host.pid(), 0) != 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return Count(obxtest::ReadFile(log), kCycleEnd) >= n;
  };
  ASSERT_TRUE(cycles(3)) << obxtest::ReadFile(log) << host.Err();
  std::string text = obxtest::ReadFile(log);
  EXPECT_GE(
      Count(text, "Failed to access WService:http://127.0.0.1:" + std::to_string(managementPort)),
      3)
      << text;
  EXPECT_EQ(Count(text, "RunTaskList\n"), 3) << text;
  EXPECT_EQ(obxtest::ReadFile(Runs("7001")), "7001\n");
  EXPECT_EQ(obxtest::ReadFile(Runs("7002")), "7002\n");
  const std::vector<std::string> waiting = Pending(install + "/reportInfo.xml");
  EXPECT_EQ(waiting.size(), 4u) << obxtest::ReadFile(install + "/reportInfo.xml");

  obxtest::ObxServerProcess back(root, managementOptions,
                                 "127.0.0.1:" + std::to_string(managementPort), "management");
  ASSERT_EQ(back.Port(), managementPort) << back.Stderr();
  // The next cycle that begins from now on (one that has already begun may
  // have tried its uploads before the server was back).
  text = obxtest::ReadFile(log);
  const int ended = Count(text, kCycleEnd);
  const bool begun = text.find("Login url:", text.rfind(kCycleEnd)) != std::string::npos;
  ASSERT_TRUE(cycles(ended + (begun ? 2 : 1))) << obxtest::ReadFile(log) << host.Err();
  kill(host.pid(), SIGTERM);
  EXPECT_EQ(host.WaitExit(std::chrono::seconds(30)), 0) << host.Err();

  const obxtest::ChildOutcome reports = obxtest::RunChild(
      root, obxtest::BinDir() + "/obx-server", {"reports", "--db", root.Sub("reports.db")});
  for (const std::string& record : waiting) {
    const std::string type = record.substr(0, record.find(' '));
    const std::string id = record.substr(record.find(' ') + 1);
    EXPECT_NE(reports.out.find("\t" + type + "\t" + id + "\t"), std::string::npos)
        << record << " did not arrive\n"
        << reports.out;
  }
  EXPECT_EQ(obxtest::ReadFile(Runs("7001")), "7001\n");  // nothing ran twice
}

// A server that never answers costs each call its time-out, and the cycle
// goes on with the stored policy; a slow one that answers within the time-out
// takes the pending records.
TEST_F(ServerFaults, SilentServerTimesOutAndTheCycleGoesOnSlowServerIsWaitedFor) {
  obxtest::TestMachine machine;
  // The host's services with a SOAP time-out of their own.
  const auto installServices = [](obxtest::FakeRuntime& runtime, long timeoutMs) {
    runtime.Install();
    runtime.RegisterSealServices();
    runtime.Register<orsa::sdo::ISdoHelper>(boost::make_shared<orsahost::SdoHelper>());
    orsahost::WebServiceInvokerOptions options;
    options.totalTimeoutMs = timeoutMs;
    runtime.Register<orsa::ws::IWebServiceInvoker>(
        boost::make_shared<orsahost::WebServiceInvoker>(options));
  };
  const std::string install = machine.SetModuleFolder(machine.root.Sub("obx"));
  fs::create_directories(install + "/download");
  fs::create_directories(machine.root.Sub("repo"));
  const std::string policy = Policy(machine.root.Sub("repo"), install + "/download");
  orsahost::SecurityHelper security;
  orsahost::ZipHelper zip;
  obxtest::WriteFile(install + "/PatchPolicy.xml", orsa::SealWith(security, zip, orsa::kPassphrase,
                                                                  policy.data(), policy.size()));

  {
    obxtest::FakeRuntime runtime;
    installServices(runtime, 500);
    obxtest::LoopbackHttpServer silent([](const obxtest::HttpRequest&) { return std::string(); });
    obxtest::WriteAgentSettings(install, silent.Port(), silent.Port());
    const auto before = std::chrono::steady_clock::now();
    obx::UploadReports();
    obx::UpdatePolicy();
    obx::TaskExecute();
    obx::UploadReports();
    std::cout << "[ measured ] one cycle and one upload step against a silent server: "
              << std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count()
              << " s (time-out 0.5 s per try)" << std::endl;
    // One policy call, a result and a version upload per task, then one of
    // each type, each tried twice: every try ended by its time-out.
    EXPECT_EQ(silent.Requests().size(), 14u);
    int timedOut = 0;
    for (const std::string& m : runtime.Messages())
      timedOut +=
          m.find("Failed to access WService:") == 0 && m.find("timed out") != std::string::npos;
    EXPECT_EQ(timedOut, 14);
    EXPECT_TRUE(runtime.Has("Update taskList"));
    EXPECT_EQ(obxtest::ReadFile(Runs("7001")), "7001\n");
    EXPECT_EQ(obxtest::ReadFile(Runs("7002")), "7002\n");
    EXPECT_EQ(Pending(install + "/reportInfo.xml").size(), 4u);
  }

  // A second late, well within its time-out: each upload carries every
  // pending record of its type, and the acknowledged records leave the file.
  obxtest::FakeRuntime runtime;
  installServices(runtime, 20000);
  obxtest::LoopbackHttpServer slow([&](const obxtest::HttpRequest& r) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const bool result = r.body.find("uploadExecuteResult") != std::string::npos;
    return obxtest::HttpResponse(
        200, "OK",
        orsahost::soap::BuildEnvelope(
            std::string(result ? "uploadExecuteResult" : "uploadExecuteStatus") + "Response",
            orsahost::soap::Message{{{{"result", "true", "string"}}}}),
        "text/xml; charset=utf-8");
  });
  obxtest::WriteAgentSettings(install, slow.Port(), slow.Port());
  obx::UploadReports();
  EXPECT_EQ(slow.Requests().size(), 2u);
  EXPECT_EQ(Pending(install + "/reportInfo.xml"), std::vector<std::string>{});
}

// The agent in orsa-host inside a policy call that the server never answers:
// SIGTERM still ends it at once and cleanly (the call's own time-out is two
// minutes; the watchdog here is ten seconds).
TEST_F(ServerFaults, StopIsPromptInsideACallTheServerNeverAnswers) {
  obxtest::TempStateRoot root;
  obxtest::LoopbackHttpServer silent([](const obxtest::HttpRequest&) { return std::string(); });
  fs::create_directories(root.Sub("obx"));
  obxtest::WriteAgentSettings(root.Sub("obx"), silent.Port(), silent.Port());
  HostProcess host(root, {"--root", root.Path()});
  for (int i = 0; i < 3000 && silent.Requests().empty() && kill(host.pid(), 0) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(silent.Requests().size(), 1u) << host.Err();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // well inside the call
  const auto before = std::chrono::steady_clock::now();
  kill(host.pid(), SIGTERM);
  EXPECT_EQ(host.WaitExit(std::chrono::seconds(10)), 0) << host.Err();
  std::cout << "[ measured ] orsa-host stop inside a call the server never answers: "
            << std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count()
            << " s" << std::endl;
  const std::string text = obxtest::ReadFile(root.Sub("logs/orsa-host.log"));
  EXPECT_NE(text.find("stopping on SIGTERM"), std::string::npos) << text;
  EXPECT_EQ(text.find("did not end in time"), std::string::npos) << text;
  EXPECT_EQ(text.find("Update taskList"), std::string::npos) << text;  // the cycle ended there
}

}  // namespace
