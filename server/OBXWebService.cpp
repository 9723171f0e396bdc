#include "server/OBXWebService.h"

#include <cctype>
#include <cstdint>
#include <exception>
#include <string>

#include "foundation/Cipher.h"
#include "foundation/Log.h"
#include "foundation/Runtime.h"
#include "foundation/SettingsStore.h"
#include "orsa/AnswerSignature.h"
#include "platform/StopToken.h"

namespace obx {

const char* const kUpdatePatchPolicyOperation = "updatePatchPolicy";
const char* const kUploadExecuteStatusOperation = "uploadExecuteStatus";
const char* const kUploadExecuteResultOperation = "uploadExecuteResult";

namespace {

const char* const kChannel = "OBXWebService";
const char* const kSource = "OBXWebService";
// The access failures belong to the cycle's story, so they go to its channel.
const char* const kCycleChannel = "OBXConsole";

const uint32_t kDefaultPort = 7080;

// HTTP field names compare without regard to case.
bool SameFieldName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

OBXWebService::OBXWebService()
    : invoker_(getService<orsa::ws::IWebServiceInvoker>()),
      sdoHelper_(getService<orsa::sdo::ISdoHelper>()),
      key_(ServerKey::FromSettings()) {
  if (key_.IsSet()) exchange_ = getService<orsa::ws::IWebServiceExchange>();
  std::string schema = ReadRegString(HKLM, kManagementServerKey, "schema");
  if (schema.empty()) schema = "http";
  const std::string server = ReadRegString(HKLM, kManagementServerKey, "server");
  if (server.empty()) return;  // every call then reports "service url is null."
  uint32_t port = kDefaultPort;
  ReadRegDword(HKLM, kManagementServerKey, "port", port);
  baseUrl_ = schema + "://" + server + ":" + std::to_string(port);
}

orsa::sdo::DataObjectPtr OBXWebService::NewObject(const std::string& typeName) {
  // Same failure as dereferencing an object the host did not create.
  if (!sdoHelper_) throw std::runtime_error("NullPointer");
  return sdoHelper_->createDataObject(orsa::ws::kObxNamespace, typeName);
}

orsa::sdo::DataObjectPtr OBXWebService::MakeItem(const std::string& key, const std::string& value,
                                                 const std::string& type) {
  orsa::sdo::DataObjectPtr item = NewObject("Item");
  item->setCString("key", key);
  item->setCString("value", value);
  item->setCString("type", type);
  return item;
}

bool OBXWebService::ServicesPresent() const {
  if (!invoker_) {
    OBX_WARNING(kChannel, kSource, "web service invoker is null.");
    return false;
  }
  if (!sdoHelper_) {
    OBX_WARNING(kChannel, kSource, "data object service is null.");
    return false;
  }
  return true;
}

bool OBXWebService::Invoke(std::string operation, orsa::sdo::DataObjectPtr request,
                           std::string& result) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      orsa::sdo::DataObjectPtr response;
      if (baseUrl_.empty()) {
        OBX_WARNING(kChannel, kSource, "service url is null.");
        return false;
      }
      // Read on every attempt so that a changed endpoint takes effect at once.
      const std::string action = ReadRegString(HKLM, kManagementServerKey, operation);
      if (action.empty()) {
        OBX_WARNING(kChannel, kSource, "service url is null.");
        return false;
      }
      if (!ServicesPresent()) return false;
      const std::string actionUrl = baseUrl_ + action;
      OBX_INFO(kChannel, kSource, "Login url:" << actionUrl);
      if (!Call(actionUrl, operation, request, response)) return false;
      return ExtractValue(response, result);
    } catch (const std::exception& ex) {
      OBX_WARNING(kCycleChannel, kSource,
                  "Failed to access WService:" << baseUrl_ << ",error info:" << ex.what());
    } catch (...) {
      OBX_WARNING(kCycleChannel, kSource, "Failed to access WService,unknown exception.");
    }
    // A worker that is being stopped does not start another attempt; the
    // failed one may well have been cut short by that very request.
    if (platform::QuitRequested()) break;
  }
  return false;
}

bool OBXWebService::Call(const std::string& actionUrl, const std::string& operation,
                         orsa::sdo::DataObjectPtr& request, orsa::sdo::DataObjectPtr& response) {
  if (!key_.IsSet()) {
    invoker_->invoke(actionUrl.c_str(), operation.c_str(), &request, &response, 0, 0, 0, 0);
    return true;
  }
  std::string refused;
  if (!key_.IsUsable()) {
    refused = "ServerKey or ServerKeyId cannot be used";
  } else if (!exchange_) {
    refused = "the host cannot pass the server's signature";
  } else {
    const std::string nonce = ServerKey::NewNonce();
    orsa::ws::SoapExchange exchange;
    exchange.requestHeaders = {{orsa::ws::kNonceHeader, orsa::ws::NonceText(nonce)},
                               {orsa::ws::kKeyHeader, std::to_string(key_.Id())}};
    exchange_->invokeExchange(actionUrl.c_str(), operation.c_str(), &request, &response, &exchange);
    std::string signature;
    for (const auto& field : exchange.answerHeaders) {
      if (SameFieldName(field.first, orsa::ws::kSignatureHeader)) signature = field.second;
    }
    refused = key_.Check(exchange.requestBody, exchange.answerBody, nonce, signature);
  }
  if (refused.empty()) return true;
  OBX_ERROR(kChannel, kSource, operation << " answer refused: " << refused);
  return false;
}

bool OBXWebService::ExtractValue(const orsa::sdo::DataObjectPtr& response, std::string& result) {
  // An empty response throws "NullPointer" here, which the caller's guard
  // turns into a retry.
  orsa::sdo::IDataObjectList& maps = response->getList("map");
  if (maps.size() == 0) {
    OBX_WARNING(kChannel, kSource, "funcation to call web service return get NULL result");
    return false;
  }
  orsa::sdo::DataObjectPtr firstMap = maps.get(0);
  orsa::sdo::IDataObjectList& items = firstMap->getList("item");
  if (items.size() != 1) {
    OBX_ERROR(kChannel, kSource, "web service return value is not 1 items.");
    return false;
  }
  result = items.get(0)->getCString("value");
  return !result.empty();
}

OBXWebService::Request OBXWebService::NewRequest() {
  Request request;
  request.message = NewObject("Message");
  request.maps = &request.message->getList("map");
  request.map = NewObject("Map");
  request.items = &request.map->getList("item");
  return request;
}

bool OBXWebService::UpdatePatchPolicy(const std::string& computerCode, const std::string& userName,
                                      std::string version, std::string osVersion,
                                      std::string& policy) {
  if (!ServicesPresent()) return false;
  Request request = NewRequest();
  request.items->append(MakeItem("computerCode", computerCode, "string"));
  request.items->append(MakeItem("userName", userName, "string"));
  request.items->append(MakeItem("version", version, "string"));
  request.items->append(MakeItem("osVersion", osVersion, "string"));
  request.maps->append(request.map);

  std::string resultEncode;
  if (!Invoke(kUpdatePatchPolicyOperation, request.message, resultEncode) || resultEncode.empty())
    return false;

  std::string deResult;
  try {
    DecryptText(kPassphrase, deResult, resultEncode);
  } catch (...) {
    OBX_ERROR(kChannel, kSource, "UpdatePatchPolicy Decrypt failed.");
    return false;
  }
  if (deResult.empty()) return false;
  policy = deResult;
  return true;
}

bool OBXWebService::Upload(const char* operation, const std::string& text, std::string& answer) {
  if (!ServicesPresent()) return false;
  Request request = NewRequest();
  request.items->append(MakeItem("infos", text, "string"));
  request.maps->append(request.map);
  return Invoke(operation, request.message, answer) && answer == "true";
}

bool OBXWebService::UploadExecuteStatus(const std::string& status, std::string& answer) {
  return Upload(kUploadExecuteStatusOperation, status, answer);
}

bool OBXWebService::UploadExecuteResult(const std::string& result, std::string& answer) {
  return Upload(kUploadExecuteResultOperation, result, answer);
}

}  // namespace obx
