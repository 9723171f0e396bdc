// Signed answers end to end: the host's invoker against obx-server processes,
// one holding keys 1 and 2 (rotation), one signing nothing.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <string>

#include "foundation/SettingsStore.h"
#include "host/services/SdoHelper.h"
#include "host/services/WebServiceInvoker.h"
#include "platform/File.h"
#include "server/OBXWebService.h"
#include "server/ServerKey.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/ObxServerProcess.h"
#include "tests/support/RegistryValues.h"
#include "tests/support/ScriptedInvoker.h"
#include "tests/support/TempStateRoot.h"

namespace {

// Runs `obx-server keygen` and returns the public key it printed.
std::string Keygen(const obxtest::TempStateRoot& root, const std::string& file,
                   const std::string& id) {
  const std::string out = root.Sub("keygen" + id + ".out");
  const pid_t pid =
      obxtest::StartChild(obxtest::BinDir() + "/obx-server",
                          {"keygen", "--out", file, "--key-id", id}, out, root.Sub("keygen.err"));
  EXPECT_EQ(obxtest::WaitChild(pid), 0);
  const std::string text = obxtest::ReadFile(out);
  const std::string tag = "\"ServerKey\"=\"";
  const size_t at = text.find(tag);
  if (at == std::string::npos) return "";
  return text.substr(at + tag.size(), text.find('"', at + tag.size()) - at - tag.size());
}

TEST(SignedAnswersEndToEnd, AgentsOfEitherKeyTrustOnlyTheSigningServer) {
  obxtest::TempStateRoot root;
  const std::string key1 = Keygen(root, root.Sub("k1.pem"), "1");
  const std::string key2 = Keygen(root, root.Sub("k2.pem"), "2");
  ASSERT_FALSE(key1.empty());
  ASSERT_NE(key1, key2);
  ASSERT_TRUE(platform::CreateDirectories(root.Sub("policies")));
  obxtest::WriteFile(root.Sub("policies/default.xml"), "<patchs version=\"7\"/>");
  // Key 1 named by its file, key 2 on the command line.
  obxtest::ObxServerProcess signing(
      root,
      {"--policies", root.Sub("policies"), "--db", root.Sub("a.db"), "--signing-key",
       root.Sub("k1.pem"), "--signing-key", "2:" + root.Sub("k2.pem")},
      "127.0.0.1:0", "signing");
  obxtest::ObxServerProcess plain(
      root, {"--policies", root.Sub("policies"), "--db", root.Sub("b.db")}, "127.0.0.1:0", "plain");
  ASSERT_GT(signing.Port(), 0) << signing.Stderr();
  ASSERT_GT(plain.Port(), 0) << plain.Stderr();

  obxtest::FakeRuntime runtime;
  auto invoker = boost::make_shared<orsahost::WebServiceInvoker>();
  obxtest::InstallClientRuntime(runtime, invoker);
  runtime.Register<orsa::ws::IWebServiceExchange>(invoker);
  obxtest::WriteServerSettingsForTest("127.0.0.1", 0);
  for (const char* op : {"updatePatchPolicy", "uploadExecuteStatus"}) {
    obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, op, "/obx/service");
  }

  const struct {
    int port;
    std::string key;  // "" : no key set
    uint32_t id;
    std::string refusal;  // "": trusted
  } cases[] = {
      {signing.Port(), key1, 1, ""},
      {signing.Port(), key2, 2, ""},
      {signing.Port(), "", 0, ""},
      {signing.Port(), key1, 3, "no signature"},  // a number the server does not hold
      {signing.Port(), key2, 1, "the signature is not the server's"},
      {plain.Port(), key1, 1, "no signature"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.port) + " key " + std::to_string(c.id));
    const bool trusted = c.refusal.empty();
    runtime.ClearLines();
    obxtest::WriteRegDword(platform::RegRoot::kLocalMachine, obx::kManagementServerKey, "port",
                           static_cast<uint32_t>(c.port));
    obx::WriteRegString(obx::HKLM, obx::kModuleKey, obx::kServerKeyValue, c.key);
    obxtest::WriteRegDword(platform::RegRoot::kLocalMachine, obx::kModuleKey,
                           obx::kServerKeyIdValue, c.id);
    obx::OBXWebService service;
    std::string policy = "stored";
    EXPECT_EQ(service.UpdatePatchPolicy("code", "user", "1", "os", policy), trusted);
    EXPECT_EQ(policy, trusted ? "<patchs version=\"7\"/>" : "stored");
    // A sealed text the server cannot open: a signed "false" is still an answer.
    std::string answer;
    service.UploadExecuteStatus("not sealed", answer);
    EXPECT_EQ(answer, trusted ? "false" : "");
    for (const char* op : {"updatePatchPolicy", "uploadExecuteStatus"}) {
      EXPECT_EQ(runtime.Count(op + std::string(" answer refused: ") + c.refusal), trusted ? 0 : 1);
    }
    EXPECT_EQ(runtime.Lines().size(), trusted ? 2u : 4u);  // a login line per call
  }
}

}  // namespace
