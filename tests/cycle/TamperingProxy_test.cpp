// A host on the path between the agent and its signing management server:
// a proxy on 127.0.0.1 that passes the exchanges on, changes them or answers
// itself. The agent's cycle steps (uploads, then the policy) run in-process
// with the host's real SOAP invoker against a real `obx-server serve
// --signing-key`; every answer the proxy made or touched is refused, and the
// stored policy and the report file stay as they were.
#include <gtest/gtest.h>

#include <atomic>
#include <boost/make_shared.hpp>
#include <cctype>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "cycle/PolicyUpdate.h"
#include "foundation/SettingsStore.h"
#include "host/services/SdoHelper.h"
#include "host/services/SecurityHelper.h"
#include "host/services/SoapCodec.h"
#include "host/services/WebServiceInvoker.h"
#include "host/services/ZipHelper.h"
#include "orsa/AnswerSignature.h"
#include "orsa/Seal.h"
#include "platform/Socket.h"
#include "platform/StateRoot.h"
#include "records/ReportInfo.h"
#include "records/TaskFiles.h"
#include "server/ServerKey.h"
#include "tests/host/LoopbackHttpServer.h"
#include "tests/support/AgentSettings.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/ObxServerProcess.h"
#include "tests/support/RegistryValues.h"
#include "tests/support/SealedFiles.h"
#include "tests/support/TestMachine.h"

namespace {

struct HttpAnswer {
  std::string status = "HTTP/1.1 502 Bad Gateway";
  std::string signature;  // X-Obx-Signature, "" for none
  std::string body;
};

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// Sends `request` on to 127.0.0.1:`port` with its head fields (one request
// per connection) and reads the whole answer.
HttpAnswer Forward(int port, const obxtest::HttpRequest& request) {
  HttpAnswer answer;
  platform::SocketWait why;
  std::string error;
  platform::Socket s =
      platform::Socket::Connect("127.0.0.1", port, 5000, platform::kNoWaitHandle, &why, &error);
  if (!s.Valid()) return answer;
  std::string out = request.requestLine + "\r\n";
  for (const auto& h : request.headers) {
    if (!SameName(h.first, "Connection") && !SameName(h.first, "Expect"))
      out += h.first + ": " + h.second + "\r\n";
  }
  out += "Connection: close\r\n\r\n" + request.body;
  for (size_t sent = 0; sent < out.size();) {
    const long n = s.Send(out.data() + sent, out.size() - sent);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n != platform::Socket::kWouldBlock ||
               s.WaitWritable(5000, platform::kNoWaitHandle) != platform::SocketWait::kReady) {
      return answer;
    }
  }
  std::string data;
  char buffer[4096];
  for (;;) {
    if (s.WaitReadable(10000, platform::kNoWaitHandle) != platform::SocketWait::kReady) break;
    const long n = s.Receive(buffer, sizeof buffer);
    if (n == platform::Socket::kWouldBlock) continue;
    if (n <= 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  const size_t headEnd = data.find("\r\n\r\n");
  if (headEnd == std::string::npos) return answer;
  answer.status = data.substr(0, data.find("\r\n"));
  answer.body = data.substr(headEnd + 4);
  const std::string tag = std::string("\r\n") + orsa::ws::kSignatureHeader + ": ";
  const size_t at = data.find(tag);
  if (at != std::string::npos && at < headEnd) {
    const size_t from = at + tag.size();
    answer.signature = data.substr(from, data.find("\r\n", from) - from);
  }
  return answer;
}

std::string Reply(const HttpAnswer& a) {
  return a.status + "\r\nContent-Type: text/xml; charset=utf-8\r\n" +
         (a.signature.empty()
              ? ""
              : std::string(orsa::ws::kSignatureHeader) + ": " + a.signature + "\r\n") +
         "Content-Length: " + std::to_string(a.body.size()) + "\r\nConnection: close\r\n\r\n" +
         a.body;
}

std::string OperationOf(const obxtest::HttpRequest& r) {
  for (const char* op : {"uploadExecuteResult", "uploadExecuteStatus"})
    if (r.body.find(op) != std::string::npos) return op;
  return "updatePatchPolicy";
}

// What the proxy does with every exchange.
enum class Mode {
  kPass,         // passes both ways untouched, keeping each answer
  kChangeByte,   // one byte of the answer changed
  kOwnUnsigned,  // answers itself: a policy of its own, "true" to an upload
  kOwnSigned,    // the same, with the server's signature of the request passed on
  kStrip,        // the signature field taken out
  kReplay,       // the answer kept by kPass for the same operation, again
};

// The proxy's own answers: a policy that runs its program, "true" to uploads.
std::string OwnBody(const std::string& operation) {
  const bool policy = operation == "updatePatchPolicy";
  std::string value = "true";
  if (policy) {
    const std::string text =
        "<patchs version=\"66\"><patch policyid=\"6666\"><check_os valid=\"windows\"/>"
        "<bootdownload url=\"http://127.0.0.1:1/x.sh\" md5=\"0123456789abcdef0123456789abcdef\" "
        "type=\"http\" validtime=\"0-24\"/></patch></patchs>";
    orsahost::SecurityHelper security;
    orsahost::ZipHelper zip;
    value = orsa::SealWith(security, zip, orsa::kPassphrase, text.data(), text.size());
  }
  return orsahost::soap::BuildEnvelope(
      operation + "Response",
      orsahost::soap::Message{{{{{policy ? "policy" : "result", value, "string"}}}}});
}

class TamperingProxy {
 public:
  explicit TamperingProxy(int serverPort)
      : server_(
            [this, serverPort](const obxtest::HttpRequest& r) { return Handle(serverPort, r); }) {}
  int Port() const { return server_.Port(); }
  size_t Requests() const { return server_.Requests().size(); }
  std::atomic<Mode> mode{Mode::kPass};

 private:
  std::string Handle(int serverPort, const obxtest::HttpRequest& r) {
    const std::string op = OperationOf(r);
    HttpAnswer a;
    switch (mode.load()) {
      case Mode::kPass:
        a = Forward(serverPort, r);
        kept_[op] = a;
        break;
      case Mode::kChangeByte:
        a = Forward(serverPort, r);
        // The blank after "<?xml" becomes a tab: the same document to a parser.
        if (a.body.find(' ') != std::string::npos) a.body[a.body.find(' ')] = '\t';
        break;
      case Mode::kOwnUnsigned:
        a.status = "HTTP/1.1 200 OK";
        a.body = OwnBody(op);
        break;
      case Mode::kOwnSigned: {
        // The server signs, but never gets the agent's records: one byte of
        // their sealed text is changed on the way, so it cannot store them.
        obxtest::HttpRequest sent = r;
        const size_t value = sent.body.find("<ns:value>");
        if (op != "updatePatchPolicy" && value != std::string::npos) {
          char& c = sent.body[value + 10];
          c = c == 'A' ? 'B' : 'A';
        }
        a = Forward(serverPort, sent);
        a.body = OwnBody(op);
        break;
      }
      case Mode::kStrip:
        a = Forward(serverPort, r);
        a.signature.clear();
        break;
      case Mode::kReplay:
        a = kept_[op];
        break;
    }
    return Reply(a);
  }

  std::map<std::string, HttpAnswer> kept_;  // the proxy thread's alone
  obxtest::LoopbackHttpServer server_;
};

TEST(TamperingProxy, EveryAnswerNotTheServersOwnIsRefusedAndChangesNothing) {
  obxtest::TestMachine machine;
  const obxtest::TempStateRoot& root = machine.root;
  const obxtest::ChildOutcome keygen = obxtest::RunChild(root, obxtest::BinDir() + "/obx-server",
                                                         {"keygen", "--out", root.Sub("k1.pem")});
  const std::string tag = "\"ServerKey\"=\"";
  const size_t at = keygen.out.find(tag);
  ASSERT_NE(at, std::string::npos) << keygen.out << keygen.err;
  const std::string publicKey =
      keygen.out.substr(at + tag.size(), keygen.out.find('"', at + tag.size()) - at - tag.size());
  const std::string serverPolicy =
      "<patchs version=\"2\"><patch policyid=\"2001\"><check_os valid=\"windows\"/></patch>"
      "</patchs>";
  obxtest::WriteFile(root.Sub("policies/default.xml"), serverPolicy);
  obxtest::ObxServerProcess server(
      root, {"--policies", root.Sub("policies"), "--db", root.Sub("reports.db"), "--signing-key",
             "1:" + root.Sub("k1.pem")});
  ASSERT_GT(server.Port(), 0) << server.Stderr();
  TamperingProxy proxy(server.Port());

  obxtest::FakeRuntime runtime;
  runtime.Install();
  runtime.RegisterSealServices();
  runtime.Register<orsa::sdo::ISdoHelper>(boost::make_shared<orsahost::SdoHelper>());
  auto invoker = boost::make_shared<orsahost::WebServiceInvoker>();
  runtime.Register<orsa::ws::IWebServiceInvoker>(invoker);
  runtime.Register<orsa::ws::IWebServiceExchange>(invoker);
  const std::string install = machine.SetModuleFolder(root.Sub("obx"));
  obxtest::WriteAgentSettings(install, proxy.Port(), proxy.Port());
  obx::WriteRegString(obx::HKLM, obx::kModuleKey, obx::kServerKeyValue, publicKey);
  obxtest::WriteRegDword(platform::RegRoot::kLocalMachine, obx::kModuleKey, obx::kServerKeyIdValue,
                         1);
  const std::string policyFile = platform::NativePath(obx::PolicyFilePath());
  const std::string reportFile = platform::NativePath(obx::ReportFilePath());

  const std::string notServers = "the signature is not the server's";
  const struct {
    Mode mode;
    const char* name;
    std::string refusal;  // "" : every answer taken
  } cases[] = {
      {Mode::kPass, "passed on untouched", ""},
      {Mode::kChangeByte, "one byte changed", notServers},
      {Mode::kOwnUnsigned, "its own answers", "no signature"},
      {Mode::kOwnSigned, "its own answers with the server's signature", notServers},
      {Mode::kStrip, "signature stripped", "no signature"},
      {Mode::kReplay, "earlier signed answers replayed", notServers},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // The agent holds policy 1 and one record of each type.
    obxtest::WriteSealedFile(obx::PolicyFilePath(), "<patchs version=\"1\"/>");
    std::remove(reportFile.c_str());
    {
      obx::ReportInfo reports;
      for (const char* type : {obx::kInstallResultInfo, obx::kVersionInfo})
        ASSERT_EQ(reports.AddRecord("<map type=\"" + std::string(type) +
                                    "\" id=\"2001\"><item><key>r1</key><value>ok</value></item>"
                                    "</map>"),
                  1);
    }
    const std::string policyBefore = obxtest::ReadFile(policyFile);
    const std::string reportsBefore = obxtest::ReadFile(reportFile);
    runtime.ClearLines();
    proxy.mode = c.mode;
    const size_t requests = proxy.Requests();

    obx::UploadReports();
    obx::UpdatePolicy();

    EXPECT_EQ(proxy.Requests(), requests + 3);  // one call each, none tried again
    if (c.refusal.empty()) {
      EXPECT_EQ(obxtest::ReadOpenedFile(obx::PolicyFilePath()), serverPolicy);
      EXPECT_FALSE(obx::ReportInfo().HasRecords());
      continue;
    }
    for (const char* op : {"uploadExecuteResult", "uploadExecuteStatus", "updatePatchPolicy"})
      EXPECT_EQ(runtime.Count(std::string(op) + " answer refused: " + c.refusal), 1) << op;
    EXPECT_EQ(obxtest::ReadFile(policyFile), policyBefore);
    EXPECT_EQ(obxtest::ReadFile(reportFile), reportsBefore);
  }
}

}  // namespace
