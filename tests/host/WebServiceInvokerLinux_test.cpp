// The SOAP invoker where only Linux can make the case: libcurl loaded for a
// call and let go after it, and HTTPS against the openssl command's TLS
// server run as a child process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "host/services/CurlHold.h"
#include "host/services/WebServiceInvoker.h"
#include "tests/host/LoopbackHttpServer.h"
#include "tests/host/WebServiceInvokerTest.h"
#include "tests/support/TempStateRoot.h"

namespace {

using orsa::sdo::DataObjectPtr;
using orsahost::WebServiceInvoker;
using orsahost::WebServiceInvokerOptions;
using webserviceinvokertest::AnswerEnvelope;
using webserviceinvokertest::FailureOf;
using webserviceinvokertest::MakeMessage;

TEST(WebServiceInvoker, LibcurlIsMappedForTheCallOnly) {
  obxtest::LoopbackHttpServer server([](const obxtest::HttpRequest&) {
    return obxtest::HttpResponse(
        200, "OK",
        AnswerEnvelope("<r:updatePatchPolicyResponse "
                       "xmlns:r=\"urn:obx:patch:1\"><r:message/></r:updatePatchPolicyResponse>"));
  });
  WebServiceInvoker invoker;
  DataObjectPtr request = MakeMessage({{{"computerCode", "QUJD"}}});
  DataObjectPtr response;
  ASSERT_EQ(invoker.invoke(server.Url("/obx/service").c_str(), "updatePatchPolicy", &request,
                           &response, 0, 0, 0, 0),
            0);
  EXPECT_TRUE(response);
  std::ifstream maps("/proc/self/maps");
  ASSERT_TRUE(maps);
  const std::string mapped((std::istreambuf_iterator<char>(maps)),
                           std::istreambuf_iterator<char>());
  EXPECT_EQ(mapped.find("libcurl"), std::string::npos);
}

// The host's hold of its HTTP client keeps libcurl mapped until the last hold
// is given back, across the calls made meanwhile.
TEST(CurlHold, KeepsLibcurlMappedUntilTheLastHoldIsGivenBack) {
  const auto mapped = [] {
    std::ifstream maps("/proc/self/maps");
    return std::string(std::istreambuf_iterator<char>(maps), std::istreambuf_iterator<char>())
               .find("libcurl") != std::string::npos;
  };
  orsahost::CurlHold hold;
  ASSERT_FALSE(mapped());
  ASSERT_TRUE(hold.hold());
  ASSERT_TRUE(hold.hold());
  {
    const orsahost::curl::CurlLease call;  // a transfer during the hold
  }
  hold.release();
  EXPECT_TRUE(mapped());
  hold.release();
  EXPECT_FALSE(mapped());
  hold.release();  // one too many: nothing happens
  EXPECT_FALSE(mapped());
}

// A TLS server on 127.0.0.1 (the openssl command's s_server) with a
// self-signed certificate for IP 127.0.0.1.
class TlsServer {
 public:
  explicit TlsServer(const obxtest::TempStateRoot& root) : cert_(root.Sub("cert.pem")) {
    const std::string key = root.Sub("key.pem"), out = root.Sub("s_server.out");
    const std::string make =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2"
        " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
        key + "' -out '" + cert_ + "' >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      if (!std::freopen(out.c_str(), "w", stdout) || !std::freopen("/dev/null", "r", stdin) ||
          !std::freopen("/dev/null", "w", stderr)) {
        _exit(127);
      }
      ::execlp("openssl", "openssl", "s_server", "-accept", "127.0.0.1:0", "-cert", cert_.c_str(),
               "-key", key.c_str(), "-www", static_cast<char*>(nullptr));
      _exit(127);
    }
    // Readiness: s_server prints the address once it listens.
    for (int i = 0; i < 2000 && port_ == 0; ++i) {
      const std::string text = obxtest::ReadFile(out);
      const size_t at = text.find("ACCEPT 127.0.0.1:");
      if (at != std::string::npos && text.find('\n', at) != std::string::npos) {
        port_ = std::atoi(text.c_str() + at + 17);
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
  }
  ~TlsServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  int Port() const { return port_; }
  const std::string& Cert() const { return cert_; }

 private:
  std::string cert_;
  pid_t pid_ = -1;
  int port_ = 0;
};

TEST(WebServiceInvoker, HttpsVerifiesCertificateAndHostName) {
  obxtest::TempStateRoot root;
  TlsServer tls(root);
  ASSERT_NE(tls.Port(), 0) << "openssl s_server did not start";
  const std::string port = std::to_string(tls.Port());
  DataObjectPtr response;

  // Trusted through the configured bundle: the TLS handshake succeeds and the
  // request goes out; this server never answers a POST, so the call ends in
  // its time-out instead of a certificate error.
  WebServiceInvokerOptions trusting;
  trusting.caBundle = tls.Cert();
  trusting.totalTimeoutMs = 1500;
  WebServiceInvoker withBundle(trusting);
  const std::string accepted =
      FailureOf(withBundle, "https://127.0.0.1:" + port + "/s", "updatePatchPolicy", response);
  EXPECT_NE(accepted, "");
  EXPECT_NE(accepted.find("timed out"), std::string::npos) << accepted;

  // Not in the system's store: refused.
  WebServiceInvokerOptions system;
  system.totalTimeoutMs = 20000;
  WebServiceInvoker withoutBundle(system);
  const std::string untrusted =
      FailureOf(withoutBundle, "https://127.0.0.1:" + port + "/s", "updatePatchPolicy", response);
  EXPECT_NE(untrusted.find("certificate"), std::string::npos) << untrusted;

  // Trusted certificate, but issued for another name than the one called.
  const std::string misnamed =
      FailureOf(withBundle, "https://localhost:" + port + "/s", "updatePatchPolicy", response);
  EXPECT_NE(misnamed.find("certificate"), std::string::npos) << misnamed;
  EXPECT_FALSE(response);
}

}  // namespace
