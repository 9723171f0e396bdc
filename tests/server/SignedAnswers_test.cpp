// Answers checked against the server's key: an invoker that answers like a
// host passing header fields, signing (or not) the way each case says.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <boost/make_shared.hpp>
#include <memory>
#include <set>
#include <string>

#include "foundation/SettingsStore.h"
#include "orsa/AnswerSignature.h"
#include "server/OBXWebService.h"
#include "server/ServerKey.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/RegistryValues.h"
#include "tests/support/ScriptedInvoker.h"
#include "tests/support/TempStateRoot.h"
#include "tests/support/TestSigningKey.h"

namespace {

using obxtest::ScriptedInvoker;
using obxtest::Sha256;
using obxtest::TestKey;

enum class Answer { kSigned, kChangedByte, kUnsigned, kOtherNonce, kOtherKey, kOtherKeyId };

// Answers "true" with request and answer bodies of its own, signed as told.
class SigningExchange : public orsa::ws::IWebServiceExchange {
 public:
  SigningExchange(const TestKey& server, const TestKey& stranger)
      : server_(server), stranger_(stranger) {}
  Answer mode = Answer::kSigned;
  std::vector<orsa::ws::SoapExchange::Fields> sent;

  int invoke(const char*, const char*, orsa::sdo::DataObjectPtr*, orsa::sdo::DataObjectPtr*, int,
             int, int, int) override {
    throw std::runtime_error("the plain invoke was called");
  }
  int invokeExchange(const char*, const char* operation, orsa::sdo::DataObjectPtr*,
                     orsa::sdo::DataObjectPtr* response,
                     orsa::ws::SoapExchange* exchange) override {
    sent.push_back(exchange->requestHeaders);
    std::string nonce;
    uint32_t keyId = 0;
    for (const auto& f : exchange->requestHeaders) {
      if (f.first == orsa::ws::kNonceHeader) orsa::ws::ParseNonceText(f.second, nonce);
      if (f.first == orsa::ws::kKeyHeader) orsa::ws::ParseKeyId(f.second, keyId);
    }
    exchange->requestBody = std::string("<request of ") + operation + ">";
    exchange->answerBody = "<answer true>";
    if (mode == Answer::kOtherNonce) nonce = std::string(orsa::ws::kNonceBytes, 'n');
    if (mode == Answer::kOtherKeyId) ++keyId;
    const std::string bytes = orsa::ws::SignedAnswerBytes(
        Sha256(exchange->requestBody), Sha256(exchange->answerBody), keyId, nonce);
    const std::string signature = (mode == Answer::kOtherKey ? stranger_ : server_).Sign(bytes);
    if (mode == Answer::kChangedByte) exchange->answerBody[1] ^= 1;
    if (mode != Answer::kUnsigned) exchange->answerHeaders = {{"x-obx-signature", signature}};
    ScriptedInvoker::Answer("true")(response);
    return 0;
  }

 private:
  const TestKey& server_;
  const TestKey& stranger_;
};

class SignedAnswersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    obxtest::InstallClientRuntime(runtime_, exchange_);
    runtime_.Register<orsa::ws::IWebServiceExchange>(exchange_);
    obxtest::WriteServerSettingsForTest("srv", 80);
    obx::WriteRegString(obx::HKLM, obx::kModuleKey, obx::kServerKeyValue, server_.PublicBase64());
    obxtest::WriteRegDword(platform::RegRoot::kLocalMachine, obx::kModuleKey,
                           obx::kServerKeyIdValue, 3);
  }

  obxtest::TempStateRoot root_;
  obxtest::FakeRuntime runtime_;
  TestKey server_;
  TestKey stranger_;
  boost::shared_ptr<SigningExchange> exchange_ =
      boost::make_shared<SigningExchange>(server_, stranger_);
};

TEST_F(SignedAnswersTest, OnlyTheServersSignatureOverThisExchangeIsAccepted) {
  const struct {
    Answer mode;
    const char* refusal;  // nullptr: accepted
  } cases[] = {
      {Answer::kSigned, nullptr},
      {Answer::kChangedByte,
       "uploadExecuteResult answer refused: the signature is not the server's"},
      {Answer::kUnsigned, "uploadExecuteResult answer refused: no signature"},
      {Answer::kOtherNonce,
       "uploadExecuteResult answer refused: the signature is not the server's"},
      {Answer::kOtherKey, "uploadExecuteResult answer refused: the signature is not the server's"},
      {Answer::kOtherKeyId,
       "uploadExecuteResult answer refused: the signature is not the server's"},
  };
  std::set<std::string> nonces;
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.mode));
    runtime_.ClearLines();
    exchange_->mode = c.mode;
    const size_t calls = exchange_->sent.size();
    obx::OBXWebService service;
    std::string answer;
    EXPECT_EQ(service.UploadExecuteResult("records", answer), c.refusal == nullptr);
    // A refused answer is not retried and leaves nothing for the caller.
    ASSERT_EQ(exchange_->sent.size(), calls + 1);
    EXPECT_EQ(answer, c.refusal ? "" : "true");
    const orsa::ws::SoapExchange::Fields& fields = exchange_->sent.back();
    ASSERT_EQ(fields.size(), 2u);
    EXPECT_EQ(fields[1], std::make_pair(std::string("X-Obx-Key"), std::string("3")));
    EXPECT_EQ(fields[0].second.size(), 32u);
    nonces.insert(fields[0].second);
    if (c.refusal) {
      EXPECT_EQ(runtime_.Count(c.refusal), 1);
      EXPECT_EQ(runtime_.Lines().size(), 2u);  // the login line and the refusal
    }
  }
  EXPECT_EQ(nonces.size(), 6u);  // fresh for every call
}

// Refused before anything is sent.
TEST(SignedAnswers, KeyThatCannotBeUsedRefusesEveryAnswer) {
  TestKey key;
  const struct {
    bool exchange;  // false: a host that cannot pass header fields
    std::string text;
    uint32_t id;
    const char* refusal;
  } cases[] = {
      {true, "bm90IGEga2V5", 1,
       "updatePatchPolicy answer refused: ServerKey or ServerKeyId cannot be used"},
      {true, key.PublicBase64(), 0,
       "updatePatchPolicy answer refused: ServerKey or ServerKeyId cannot be used"},
      {false, key.PublicBase64(), 1,
       "updatePatchPolicy answer refused: the host cannot pass the server's signature"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refusal);
    obxtest::TempStateRoot root;
    obxtest::FakeRuntime runtime;
    auto exchange = boost::make_shared<SigningExchange>(key, key);
    obxtest::InstallClientRuntime(runtime, exchange);
    if (c.exchange) runtime.Register<orsa::ws::IWebServiceExchange>(exchange);
    obxtest::WriteServerSettingsForTest("srv", 80);
    obx::WriteRegString(obx::HKLM, obx::kModuleKey, obx::kServerKeyValue, c.text);
    obxtest::WriteRegDword(platform::RegRoot::kLocalMachine, obx::kModuleKey,
                           obx::kServerKeyIdValue, c.id);
    obx::OBXWebService service;
    std::string policy = "stored";
    EXPECT_FALSE(service.UpdatePatchPolicy("code", "user", "1", "os", policy));
    EXPECT_EQ(policy, "stored");
    EXPECT_EQ(runtime.Count(c.refusal), 1);
    EXPECT_TRUE(exchange->sent.empty());
  }
}

TEST_F(SignedAnswersTest, StartWarnsOnlyWithoutAKey) {
  obx::LogAnswerTrust();
  EXPECT_TRUE(runtime_.Lines().empty());
  obx::WriteRegString(obx::HKLM, obx::kModuleKey, obx::kServerKeyValue, "");
  obx::LogAnswerTrust();
  EXPECT_EQ(runtime_.Count("the answers of the management server are not authenticated: no "
                           "ServerKey is set"),
            1);
}

}  // namespace
