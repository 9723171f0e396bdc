#pragma once
// A web service invoker for tests: records every call with a snapshot of its
// request and answers each one with the next scripted step. Answers are built
// from the host's real data objects. Shared by the tests of the server
// client, the cycle and the task runner.
#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/SettingsStore.h"
#include "host/services/SdoHelper.h"
#include "orsa/ISdo.h"
#include "orsa/IWebServiceInvoker.h"
#include "platform/Registry.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/RegistryValues.h"

namespace obxtest {

struct SentItem {
  std::string key;
  std::string value;
  std::string type;
  std::string objectType;  // the data object's type name ("Item")
};

struct SentMap {
  std::string objectType;  // "Map"
  std::vector<SentItem> items;
};

struct SentCall {
  std::string actionUrl;
  std::string operation;
  std::string messageType;  // "Message"
  std::string messageNamespace;
  std::vector<SentMap> maps;
  int trailingArguments[4] = {-1, -1, -1, -1};
};

// Something other than a standard exception, thrown by ThrowOther().
struct NonStandardFailure {};

class ScriptedInvoker : public orsa::ws::IWebServiceInvoker {
 public:
  // Fills `*response` or throws.
  using Step = std::function<void(orsa::sdo::DataObjectPtr* response)>;

  // Steps are used in order, one per call; without a step left the call
  // answers with an empty message (no "Map").
  void Push(Step step) { steps_.push_back(std::move(step)); }
  const std::vector<SentCall>& Calls() const { return calls_; }

  int invoke(const char* actionUrl, const char* operation, orsa::sdo::DataObjectPtr* request,
             orsa::sdo::DataObjectPtr* response, int r1, int r2, int r3, int r4) override {
    SentCall call;
    call.actionUrl = actionUrl ? actionUrl : "<null>";
    call.operation = operation ? operation : "<null>";
    const int trailing[4] = {r1, r2, r3, r4};
    for (int i = 0; i < 4; ++i) call.trailingArguments[i] = trailing[i];
    if (request != nullptr && *request) Snapshot(*request, call);
    calls_.push_back(call);
    if (steps_.empty()) {
      *response = NewObject("Message");
      return 0;
    }
    Step step = steps_.front();
    steps_.pop_front();
    step(response);
    return 0;
  }

  // An answer whose maps hold the given "value" texts, one "Item" each.
  static Step AnswerMaps(std::vector<std::vector<std::string>> maps) {
    return [maps](orsa::sdo::DataObjectPtr* response) {
      orsa::sdo::DataObjectPtr message = NewObject("Message");
      for (const auto& values : maps) {
        orsa::sdo::DataObjectPtr map = NewObject("Map");
        for (const auto& value : values) {
          orsa::sdo::DataObjectPtr item = NewObject("Item");
          item->setCString("key", "result");
          item->setCString("value", value);
          item->setCString("type", "string");
          map->getList("item").append(item);
        }
        message->getList("map").append(map);
      }
      *response = message;
    };
  }
  // The usual answer: one "Map" holding one "Item" with `value`.
  static Step Answer(const std::string& value) { return AnswerMaps({{value}}); }
  static Step Throw(const std::string& text) {
    return [text](orsa::sdo::DataObjectPtr*) { throw std::runtime_error(text); };
  }
  static Step ThrowOther() {
    return [](orsa::sdo::DataObjectPtr*) { throw NonStandardFailure(); };
  }
  // Leaves the response empty, as an invoker that failed quietly would.
  static Step NoResponse() {
    return [](orsa::sdo::DataObjectPtr*) {};
  }

  static orsa::sdo::DataObjectPtr NewObject(const std::string& type) {
    orsahost::SdoHelper helper;
    return helper.createDataObject(orsa::ws::kObxNamespace, type);
  }

 private:
  static void Snapshot(const orsa::sdo::DataObjectPtr& message, SentCall& call) {
    call.messageType = message->getType();
    call.messageNamespace = message->getNamespace();
    orsa::sdo::IDataObjectList& maps = message->getList("map");
    for (uint32_t m = 0; m < maps.size(); ++m) {
      orsa::sdo::DataObjectPtr map = maps.get(m);
      SentMap sent;
      sent.objectType = map->getType();
      orsa::sdo::IDataObjectList& items = map->getList("item");
      for (uint32_t i = 0; i < items.size(); ++i) {
        orsa::sdo::DataObjectPtr item = items.get(i);
        sent.items.push_back(SentItem{item->getCString("key"), item->getCString("value"),
                                      item->getCString("type"), item->getType()});
      }
      call.maps.push_back(sent);
    }
  }

  std::deque<Step> steps_;
  std::vector<SentCall> calls_;
};

// Stores a REG_DWORD under HKLM (the settings store only reads DWORDs).
// The management server settings every test of the client starts from:
// server, port and the three endpoint paths.
inline void WriteServerSettingsForTest(const std::string& server, uint32_t port) {
  obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, "server", server);
  WriteRegDword(platform::RegRoot::kLocalMachine, obx::kManagementServerKey, "port", port);
  obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, "updatePatchPolicy", "/obx/policy");
  obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, "uploadExecuteStatus", "/obx/status");
  obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, "uploadExecuteResult", "/obx/result");
}

// Installs `runtime` as the component's, with the seal services, the data
// objects and `invoker` as the web service: what every test of the server
// client and the report upload starts from.
inline void InstallClientRuntime(FakeRuntime& runtime,
                                 const boost::shared_ptr<orsa::ws::IWebServiceInvoker>& invoker) {
  runtime.Install();
  runtime.RegisterSealServices();
  runtime.Register<orsa::sdo::ISdoHelper>(boost::make_shared<orsahost::SdoHelper>());
  runtime.Register<orsa::ws::IWebServiceInvoker>(invoker);
}

}  // namespace obxtest
