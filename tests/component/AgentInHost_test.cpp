// The real agent component in the real host process.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iostream>

#include "foundation/SettingsStore.h"
#include "host/CompositeManifest.h"
#include "host/services/SecurityHelper.h"
#include "host/services/SoapCodec.h"
#include "host/services/ZipHelper.h"
#include "orsa/Seal.h"
#include "tests/host/LoopbackHttpServer.h"
#include "tests/support/HostProcess.h"
#include "tests/support/RegistryValues.h"
#include "tests/support/ScriptedInvoker.h"
#include "tests/support/TempStateRoot.h"

namespace {

using obxtest::HostProcess;
using obxtest::WaitForLog;

const std::string kP2pLibrary = OBX_TEST_TESTP2PCOMPOSITE;

// The real agent component, once it is built beside the host.
TEST(AgentInHost, StopsFromItsPauseOnSigterm) {
  std::string library = std::string(OBX_LIB_DIR) + "/libobxconsole.so";
  if (!std::filesystem::exists(library)) GTEST_SKIP() << "no " << library;
  obxtest::TempStateRoot root;
  // The framework folder holds the peer-to-peer composite the console loads at start.
  std::string framework = root.Sub("framework/");
  orsahost::CompositeManifest manifest;
  manifest.library = kP2pLibrary;
  manifest.services = {"orsa::net::IP2pDownload"};
  orsahost::WriteComposite(framework + "Components/orsap2p.composite", manifest, orsa::kPassphrase);
  ASSERT_TRUE(obxtest::WriteRegText(platform::RegRoot::kLocalMachine,
                                    "SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\Framework",
                                    "InstallPath", framework));

  // No --component: the host finds the library in ../lib beside its own folder.
  HostProcess host(root, {"--root", root.Path()});
  std::string log = root.Sub("logs/orsa-host.log");
  ASSERT_TRUE(WaitForLog(log, "************Wait for next schedule*********at lease (seconds):",
                         host, std::chrono::seconds(120)))
      << obxtest::ReadFile(log) << host.Err();
  auto before = std::chrono::steady_clock::now();
  kill(host.pid(), SIGTERM);
  int code = host.WaitExit(std::chrono::seconds(8));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
  std::cout << "[ measured ] orsa-host stop after SIGTERM: " << seconds << " s" << std::endl;
  RecordProperty("stop_seconds", std::to_string(seconds));
  EXPECT_EQ(code, 0) << host.Err();
  EXPECT_FALSE(std::filesystem::exists("/proc/" + std::to_string(host.pid())));

  std::string text = obxtest::ReadFile(log);
  EXPECT_NE(text.find("started "), std::string::npos) << text;
  EXPECT_NE(text.find("*************start************"), std::string::npos) << text;
  EXPECT_NE(text.find("Load p2p comosite"), std::string::npos) << text;
  EXPECT_NE(text.find("composite " + framework + "Components/orsap2p.composite loaded"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("************Start************"), std::string::npos) << text;
  EXPECT_NE(text.find("stopping on SIGTERM"), std::string::npos) << text;
  EXPECT_NE(text.find(" stopped\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("still in use"), std::string::npos) << text;
  // The worker ended inside its pause: no thread outlived the stop and the
  // last resort (abandoning it) was not needed.
  EXPECT_EQ(text.find("did not end in time"), std::string::npos) << text;
  EXPECT_EQ(text.find("still running after the stop"), std::string::npos) << text;
  // The real cycle ran: without a server setting the policy request is refused,
  // and the report file, named relative to the current folder when no install
  // folder is set, is kept in the state root the daemon works in.
  EXPECT_NE(text.find("service url is null."), std::string::npos) << text;
  EXPECT_TRUE(std::filesystem::exists(root.Sub("reportInfo.xml")));
}

// The real agent against a hostile server, one cycle per run: an answer nested
// 100,000 levels, then a valid answer whose sealed policy is nested so, then a
// start over such a policy stored by an older version. Each run ends its cycle
// and stops cleanly; the deep policy is never stored, and a stored one is
// replaced by the next good answer.
TEST(AgentInHost, RefusesDeepXmlAndStartsAgainNormally) {
  if (!std::filesystem::exists(std::string(OBX_LIB_DIR) + "/libobxconsole.so")) GTEST_SKIP();
  obxtest::TempStateRoot root;
  const std::string install = root.Sub("obx");
  std::filesystem::create_directories(install);
  ASSERT_TRUE(obx::WriteRegString(obx::HKLM, obx::kModuleKey, "InstallPath", install));
  orsahost::SecurityHelper security;
  orsahost::ZipHelper zip;
  auto seal = [&](const std::string& text) {
    return orsa::SealWith(security, zip, orsa::kPassphrase, text.data(), text.size());
  };
  auto answer = [](const std::string& sealed) {
    orsahost::soap::Message message{{{{"policy", sealed, "string"}}}};
    return obxtest::HttpResponse(
        200, "OK", orsahost::soap::BuildEnvelope("updatePatchPolicyResponse", message));
  };
  std::string nested;
  for (int i = 0; i < 100000; ++i) nested += "<x>";
  const std::string deepPolicy = "<patchs version=\"2\"><patch policyid=\"1\">" + nested;
  const std::string goodPolicy =
      "<patchs version=\"3\"><patch policyid=\"7\"><check_os valid=\"none\"/></patch></patchs>";
  const std::string answers[] = {
      obxtest::HttpResponse(200, "OK",
                            "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\">"
                            "<e:Body>" +
                                nested),
      answer(seal(deepPolicy)), answer(seal(goodPolicy))};
  const std::string expected[] = {
      "failed: malformed SOAP message: beyond the limits of nesting, elements or attributes",
      "Policy refused: beyond the limits of nesting, elements or attributes",
      "Insert id= 7 to taskList"};
  const std::string policyFile = install + "/PatchPolicy.xml";
  const std::string log = root.Sub("logs/orsa-host.log");
  for (int run = 0; run < 3; ++run) {
    const std::string body = answers[run];
    obxtest::LoopbackHttpServer server([body](const obxtest::HttpRequest&) { return body; });
    obxtest::WriteServerSettingsForTest("127.0.0.1", static_cast<uint32_t>(server.Port()));
    if (run == 2) obxtest::WriteFile(policyFile, seal(deepPolicy));
    HostProcess host(root, {"--root", root.Path()});
    ASSERT_TRUE(WaitForLog(log, "************Wait for next schedule*********", host,
                           std::chrono::seconds(60)))
        << "run " << run << "\n"
        << obxtest::ReadFile(log) << host.Err();
    kill(host.pid(), SIGTERM);
    EXPECT_EQ(host.WaitExit(std::chrono::seconds(8)), 0) << "run " << run << host.Err();
    const std::string text = obxtest::ReadFile(log);
    EXPECT_NE(text.find(expected[run]), std::string::npos) << "run " << run << "\n" << text;
    EXPECT_EQ(std::filesystem::exists(policyFile), run == 2) << "run " << run;
    std::filesystem::remove(log);
  }
  EXPECT_EQ(orsa::OpenWith(security, zip, orsa::kPassphrase, obxtest::ReadFile(policyFile)),
            goodPolicy);
}

}  // namespace
