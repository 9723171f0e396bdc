#include "server/OBXWebService.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <string>
#include <vector>

#include "foundation/Cipher.h"
#include "foundation/SettingsStore.h"
#include "host/services/SdoHelper.h"
#include "platform/StopToken.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/ScriptedInvoker.h"
#include "tests/support/TempStateRoot.h"

namespace {

using obxtest::ScriptedInvoker;

const char* const kNullUrl = "service url is null.";

class WebServiceTest : public ::testing::Test {
 protected:
  void SetUp() override { obxtest::InstallClientRuntime(runtime_, invoker_); }

  // The log lines at `level`, as "channel|source|message".
  std::vector<std::string> LinesAt(int level) const {
    std::vector<std::string> out;
    for (const obxtest::LogLine& line : runtime_.Lines())
      if (line.level == level) out.push_back(line.channel + "|" + line.source + "|" + line.message);
    return out;
  }

  orsa::sdo::DataObjectPtr EmptyRequest() { return ScriptedInvoker::NewObject("Message"); }

  obxtest::TempStateRoot root_;
  obxtest::FakeRuntime runtime_;
  boost::shared_ptr<ScriptedInvoker> invoker_ = boost::make_shared<ScriptedInvoker>();
};

// ------------------------------------------------------------ base address

TEST_F(WebServiceTest, ServerMissingLogsUrlNullOncePerCallAndNeverCalls) {
  obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, "updatePatchPolicy", "/p");
  obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, "uploadExecuteStatus", "/s");
  obx::OBXWebService service;
  std::string result = "untouched";
  EXPECT_FALSE(service.Invoke("updatePatchPolicy", EmptyRequest(), result));
  EXPECT_EQ(result, "untouched");
  EXPECT_EQ(runtime_.Count(kNullUrl), 1);
  std::string answer;
  EXPECT_FALSE(service.UploadExecuteStatus("report", answer));
  EXPECT_EQ(runtime_.Count(kNullUrl), 2);
  EXPECT_TRUE(invoker_->Calls().empty());
  EXPECT_EQ(LinesAt(4),
            (std::vector<std::string>{"OBXWebService|OBXWebService|" + std::string(kNullUrl),
                                      "OBXWebService|OBXWebService|" + std::string(kNullUrl)}));
}

TEST_F(WebServiceTest, EmptyEndpointValueLogsUrlNullWithoutRetry) {
  obxtest::WriteServerSettingsForTest("srv", 80);
  obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, "uploadExecuteResult", "");
  obx::OBXWebService service;
  std::string answer;
  EXPECT_FALSE(service.UploadExecuteResult("report", answer));
  EXPECT_EQ(runtime_.Count(kNullUrl), 1);
  EXPECT_TRUE(invoker_->Calls().empty());
}

struct AddressCase {
  const char* schema;  // nullptr: value not written
  const char* server;
  bool writePort;
  uint32_t port;
  const char* endpoint;
  const char* expected;
};

TEST_F(WebServiceTest, ActionAddressIsSchemaServerPortAndEndpointRunTogether) {
  const AddressCase cases[] = {
      {"https", "srv.example", true, 8443, "/obx/policy", "https://srv.example:8443/obx/policy"},
      {nullptr, "10.0.0.1", true, 80, "/svc", "http://10.0.0.1:80/svc"},
      {"", "10.0.0.1", true, 80, "/svc", "http://10.0.0.1:80/svc"},
      {"http", "host", false, 0, "/svc", "http://host:7080/svc"},
      {"http", "host", true, 0, "/svc", "http://host:0/svc"},
      {"http", "host", true, 9000, "svc/x", "http://host:9000svc/x"},
      {"http", "a b&c", true, 1, "/?q=<1>", "http://a b&c:1/?q=<1>"},
  };
  for (const AddressCase& c : cases) {
    SCOPED_TRACE(c.expected);
    obxtest::TempStateRoot root;  // a fresh registry per case
    if (c.schema) obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, "schema", c.schema);
    obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, "server", c.server);
    if (c.writePort)
      obxtest::WriteRegDword(platform::RegRoot::kLocalMachine, obx::kManagementServerKey, "port",
                             c.port);
    obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, "uploadExecuteStatus", c.endpoint);
    runtime_.ClearLines();
    const size_t before = invoker_->Calls().size();
    invoker_->Push(ScriptedInvoker::Answer("true"));
    obx::OBXWebService service;
    std::string answer;
    EXPECT_TRUE(service.UploadExecuteStatus("x", answer));
    ASSERT_EQ(invoker_->Calls().size(), before + 1);
    const obxtest::SentCall& call = invoker_->Calls().back();
    EXPECT_EQ(call.actionUrl, c.expected);
    EXPECT_EQ(call.operation, "uploadExecuteStatus");
    for (int arg : call.trailingArguments) EXPECT_EQ(arg, 0);
    EXPECT_EQ(LinesAt(6), (std::vector<std::string>{"OBXWebService|OBXWebService|Login url:" +
                                                    std::string(c.expected)}));
  }
}

TEST_F(WebServiceTest, PortStoredAsTextCountsAsMissing) {
  obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, "server", "host");
  obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, "port", "8080");
  obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, "uploadExecuteStatus", "/s");
  invoker_->Push(ScriptedInvoker::Answer("true"));
  obx::OBXWebService service;
  std::string answer;
  service.UploadExecuteStatus("x", answer);
  ASSERT_EQ(invoker_->Calls().size(), 1u);
  EXPECT_EQ(invoker_->Calls()[0].actionUrl, "http://host:7080/s");
}

TEST_F(WebServiceTest, EndpointIsReadPerCallButBaseAddressOnlyAtConstruction) {
  obxtest::WriteServerSettingsForTest("first", 1);
  obx::OBXWebService service;
  obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, "server", "second");
  obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, "uploadExecuteStatus", "/changed");
  invoker_->Push(ScriptedInvoker::Answer("true"));
  std::string answer;
  EXPECT_TRUE(service.UploadExecuteStatus("x", answer));
  ASSERT_EQ(invoker_->Calls().size(), 1u);
  EXPECT_EQ(invoker_->Calls()[0].actionUrl, "http://first:1/changed");
}

// ------------------------------------------------------------ attempts

TEST_F(WebServiceTest, ThrowThenSuccessLogsOneWarningAndGivesSecondResult) {
  obxtest::WriteServerSettingsForTest("h", 7);
  invoker_->Push(ScriptedInvoker::Throw("connection refused"));
  invoker_->Push(ScriptedInvoker::Answer("second"));
  obx::OBXWebService service;
  std::string result;
  EXPECT_TRUE(service.Invoke("uploadExecuteResult", EmptyRequest(), result));
  EXPECT_EQ(result, "second");
  EXPECT_EQ(invoker_->Calls().size(), 2u);
  EXPECT_EQ(LinesAt(4),
            (std::vector<std::string>{"OBXConsole|OBXWebService|Failed to access "
                                      "WService:http://h:7,error info:connection refused"}));
}

TEST_F(WebServiceTest, TwoFailedAttemptsGiveTwoWarningsAndFalse) {
  obxtest::WriteServerSettingsForTest("h", 7);
  invoker_->Push(ScriptedInvoker::Throw("one"));
  invoker_->Push(ScriptedInvoker::ThrowOther());
  invoker_->Push(ScriptedInvoker::Answer("never asked"));
  obx::OBXWebService service;
  std::string result;
  EXPECT_FALSE(service.Invoke("uploadExecuteResult", EmptyRequest(), result));
  EXPECT_EQ(result, "");
  EXPECT_EQ(invoker_->Calls().size(), 2u);
  EXPECT_EQ(LinesAt(4),
            (std::vector<std::string>{
                "OBXConsole|OBXWebService|Failed to access WService:http://h:7,error info:one",
                "OBXConsole|OBXWebService|Failed to access WService,unknown exception."}));
}

TEST_F(WebServiceTest, EmptyResponseCountsAsNullPointerFailureAndIsRetried) {
  obxtest::WriteServerSettingsForTest("h", 7);
  invoker_->Push(ScriptedInvoker::NoResponse());
  invoker_->Push(ScriptedInvoker::Answer("ok"));
  obx::OBXWebService service;
  std::string result;
  EXPECT_TRUE(service.Invoke("uploadExecuteResult", EmptyRequest(), result));
  EXPECT_EQ(result, "ok");
  EXPECT_EQ(runtime_.Count("Failed to access WService:http://h:7,error info:NullPointer"), 1);
}

// ------------------------------------------------------------ value extraction

struct ExtractionCase {
  const char* name;
  std::vector<std::vector<std::string>> maps;
  bool ok;
  std::string result;  // after the call; preset to "old"
  int level;           // of the one expected line, 0 for none
  const char* message;
};

TEST_F(WebServiceTest, AnswerShapesDecideResultWithoutRetry) {
  const ExtractionCase cases[] = {
      {"one item", {{"abc"}}, true, "abc", 0, ""},
      {"zero is a valid text", {{"0"}}, true, "0", 0, ""},
      {"empty value is assigned", {{""}}, false, "", 0, ""},
      {"no map", {}, false, "old", 4, "funcation to call web service return get NULL result"},
      {"map without item", {{}}, false, "old", 3, "web service return value is not 1 items."},
      {"two items, later map with one",
       {{"a", "b"}, {"c"}},
       false,
       "old",
       3,
       "web service return value is not 1 items."},
      {"later maps ignored", {{"first"}, {"x", "y"}}, true, "first", 0, ""},
  };
  obxtest::WriteServerSettingsForTest("h", 7);
  for (const ExtractionCase& c : cases) {
    SCOPED_TRACE(c.name);
    runtime_.ClearLines();
    const size_t before = invoker_->Calls().size();
    invoker_->Push(ScriptedInvoker::AnswerMaps(c.maps));
    obx::OBXWebService service;
    std::string result = "old";
    EXPECT_EQ(service.Invoke("uploadExecuteResult", EmptyRequest(), result), c.ok);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(invoker_->Calls().size(), before + 1);  // never retried
    std::vector<std::string> expected;
    if (c.level != 0) expected.push_back("OBXWebService|OBXWebService|" + std::string(c.message));
    EXPECT_EQ(LinesAt(3).size() + LinesAt(4).size(), expected.size());
    if (c.level != 0) {
      EXPECT_EQ(LinesAt(c.level), expected);
    }
  }
}

// ------------------------------------------------------------ missing services

TEST(WebServiceMissingServices, MissingInvokerFailsWithoutBuildingOrCalling) {
  obxtest::TempStateRoot root;
  obxtest::FakeRuntime runtime;
  runtime.Install();
  runtime.Register<orsa::sdo::ISdoHelper>(boost::make_shared<orsahost::SdoHelper>());
  obxtest::WriteServerSettingsForTest("h", 7);
  obx::OBXWebService service;
  std::string out = "keep";
  EXPECT_FALSE(service.UpdatePatchPolicy("code", "user", "1", "winxp", out));
  EXPECT_FALSE(service.UploadExecuteResult("r", out));
  EXPECT_FALSE(service.Invoke("uploadExecuteResult", ScriptedInvoker::NewObject("Message"), out));
  EXPECT_EQ(out, "keep");
  EXPECT_EQ(runtime.Count("web service invoker is null."), 3);
}

TEST(WebServiceMissingServices, MissingDataObjectServiceFailsAndMakeItemThrowsNullPointer) {
  obxtest::TempStateRoot root;
  obxtest::FakeRuntime runtime;
  runtime.Install();
  auto invoker = boost::make_shared<ScriptedInvoker>();
  runtime.Register<orsa::ws::IWebServiceInvoker>(invoker);
  obxtest::WriteServerSettingsForTest("h", 7);
  obx::OBXWebService service;
  std::string out = "keep";
  EXPECT_FALSE(service.UpdatePatchPolicy("code", "user", "1", "winxp", out));
  EXPECT_FALSE(service.UploadExecuteStatus("s", out));
  EXPECT_FALSE(service.Invoke("uploadExecuteStatus", ScriptedInvoker::NewObject("Message"), out));
  EXPECT_EQ(out, "keep");
  EXPECT_TRUE(invoker->Calls().empty());
  EXPECT_EQ(runtime.Count("data object service is null."), 3);
  try {
    service.MakeItem("k", "v", "string");
    FAIL() << "MakeItem without a data-object service must throw";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "NullPointer");
  }
}

// ------------------------------------------------------------ operations

TEST_F(WebServiceTest, MakeItemSetsKeyValueAndType) {
  obx::OBXWebService service;
  orsa::sdo::DataObjectPtr item = service.MakeItem("k", "v<&>", "string");
  EXPECT_EQ(item->getType(), "Item");
  EXPECT_EQ(item->getNamespace(), orsa::ws::kObxNamespace);
  EXPECT_EQ(item->getCString("key"), "k");
  EXPECT_EQ(item->getCString("value"), "v<&>");
  EXPECT_EQ(item->getCString("type"), "string");
}

TEST_F(WebServiceTest, PolicyRequestHoldsFourStringItemsInOrderInOneMap) {
  obxtest::WriteServerSettingsForTest("h", 7);
  const std::string document = "<patchs version=\"3\"><patch policyid=\"1\"/></patchs>";
  std::string sealed;
  obx::EncryptText(obx::kPassphrase, sealed, document.data(), document.size());
  ASSERT_FALSE(sealed.empty());
  invoker_->Push(ScriptedInvoker::Answer(sealed));

  obx::OBXWebService service;
  std::string policy;
  EXPECT_TRUE(service.UpdatePatchPolicy("Q09ERQ==", "user", "2", "winxp", policy));
  EXPECT_EQ(policy, document);

  ASSERT_EQ(invoker_->Calls().size(), 1u);
  const obxtest::SentCall& call = invoker_->Calls()[0];
  EXPECT_EQ(call.operation, "updatePatchPolicy");
  EXPECT_EQ(call.actionUrl, "http://h:7/obx/policy");
  EXPECT_EQ(call.messageType, "Message");
  EXPECT_EQ(call.messageNamespace, orsa::ws::kObxNamespace);
  ASSERT_EQ(call.maps.size(), 1u);
  EXPECT_EQ(call.maps[0].objectType, "Map");
  const std::vector<std::vector<std::string>> expected = {
      {"computerCode", "Q09ERQ=="}, {"userName", "user"}, {"version", "2"}, {"osVersion", "winxp"}};
  ASSERT_EQ(call.maps[0].items.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(call.maps[0].items[i].key, expected[i][0]);
    EXPECT_EQ(call.maps[0].items[i].value, expected[i][1]);
    EXPECT_EQ(call.maps[0].items[i].type, "string");
    EXPECT_EQ(call.maps[0].items[i].objectType, "Item");
  }
}

TEST_F(WebServiceTest, UndecryptablePolicyLogsDecryptFailedOnceAndLeavesPolicy) {
  obxtest::WriteServerSettingsForTest("h", 7);
  invoker_->Push(ScriptedInvoker::Answer("QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo="));
  obx::OBXWebService service;
  std::string policy = "previous";
  EXPECT_FALSE(service.UpdatePatchPolicy("c", "u", "1", "winxp", policy));
  EXPECT_EQ(policy, "previous");
  EXPECT_EQ(
      LinesAt(3),
      (std::vector<std::string>{"OBXWebService|OBXWebService|UpdatePatchPolicy Decrypt failed."}));
  EXPECT_EQ(invoker_->Calls().size(), 1u);
}

TEST_F(WebServiceTest, PolicyOpeningToEmptyTextOrEmptyAnswerIsFalseWithoutLog) {
  obxtest::WriteServerSettingsForTest("h", 7);
  std::string sealedEmpty;
  const std::string nulFirst("\0abc", 4);  // opens to "" (text ends at its first NUL)
  obx::EncryptText(obx::kPassphrase, sealedEmpty, nulFirst.data(), nulFirst.size());
  ASSERT_FALSE(sealedEmpty.empty());
  for (const std::string& answer : {sealedEmpty, std::string()}) {
    runtime_.ClearLines();
    invoker_->Push(ScriptedInvoker::Answer(answer));
    obx::OBXWebService service;
    std::string policy = "previous";
    EXPECT_FALSE(service.UpdatePatchPolicy("c", "u", "1", "winxp", policy));
    EXPECT_EQ(policy, "previous");
    EXPECT_TRUE(LinesAt(3).empty());
    EXPECT_TRUE(LinesAt(4).empty());
  }
}

struct UploadCase {
  const char* answer;
  bool accepted;
};

TEST_F(WebServiceTest, OnlyExactTrueAcceptsAnUpload) {
  const UploadCase cases[] = {{"true", true},  {"True", false},  {" true", false}, {"true ", false},
                              {"TRUE", false}, {"false", false}, {"1", false}};
  obxtest::WriteServerSettingsForTest("h", 7);
  for (const UploadCase& c : cases) {
    SCOPED_TRACE(c.answer);
    obx::OBXWebService service;
    invoker_->Push(ScriptedInvoker::Answer(c.answer));
    std::string answer;
    EXPECT_EQ(service.UploadExecuteResult("sealed", answer), c.accepted);
    EXPECT_EQ(answer, c.answer);
    EXPECT_EQ(invoker_->Calls().back().operation, "uploadExecuteResult");
    EXPECT_EQ(invoker_->Calls().back().actionUrl, "http://h:7/obx/result");
    invoker_->Push(ScriptedInvoker::Answer(c.answer));
    EXPECT_EQ(service.UploadExecuteStatus("sealed", answer), c.accepted);
    EXPECT_EQ(invoker_->Calls().back().operation, "uploadExecuteStatus");
    EXPECT_EQ(invoker_->Calls().back().actionUrl, "http://h:7/obx/status");
  }
}

TEST_F(WebServiceTest, EmptyReportTextIsStillSentAsOneInfosItem) {
  obxtest::WriteServerSettingsForTest("h", 7);
  invoker_->Push(ScriptedInvoker::Answer("true"));
  obx::OBXWebService service;
  std::string answer;
  EXPECT_TRUE(service.UploadExecuteResult("", answer));
  ASSERT_EQ(invoker_->Calls().size(), 1u);
  const obxtest::SentCall& call = invoker_->Calls()[0];
  ASSERT_EQ(call.maps.size(), 1u);
  ASSERT_EQ(call.maps[0].items.size(), 1u);
  EXPECT_EQ(call.maps[0].items[0].key, "infos");
  EXPECT_EQ(call.maps[0].items[0].value, "");
  EXPECT_EQ(call.maps[0].items[0].type, "string");
}

}  // namespace

namespace {

TEST_F(WebServiceTest, NoSecondAttemptOnceTheWorkerIsAskedToQuit) {
  obxtest::WriteServerSettingsForTest("h", 7);
  platform::StopSource stop;
  platform::ScopedStopToken current(stop.Token());
  invoker_->Push([&stop](orsa::sdo::DataObjectPtr*) {
    stop.RequestStop();  // as when the quit request cut the transfer short
    throw std::runtime_error("cancelled");
  });
  invoker_->Push(ScriptedInvoker::Answer("never asked"));
  obx::OBXWebService service;
  std::string result;
  EXPECT_FALSE(service.Invoke("uploadExecuteResult", EmptyRequest(), result));
  EXPECT_EQ(invoker_->Calls().size(), 1u);
  EXPECT_EQ(runtime_.Count("Failed to access WService:http://h:7,error info:cancelled"), 1);
}

}  // namespace
