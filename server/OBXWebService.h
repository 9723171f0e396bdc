#pragma once
// The component's client of the management server: builds the request
// messages ("Message" -> list "map" of "Map" -> list "item" of "Item" with the
// strings "key", "value", "type"), hands them to the host's web service invoker
// and takes the single result text out of the answer.
#include <boost/shared_ptr.hpp>
#include <string>

#include "orsa/ISdo.h"
#include "orsa/IWebServiceInvoker.h"
#include "server/ServerKey.h"

namespace obx {

// Operation names: the SOAP operation and the name of the registry value under
// the management server key that holds the operation's endpoint path.
extern const char* const kUpdatePatchPolicyOperation;    // "updatePatchPolicy"
extern const char* const kUploadExecuteStatusOperation;  // "uploadExecuteStatus"
extern const char* const kUploadExecuteResultOperation;  // "uploadExecuteResult"

// A short-lived object: one cycle step creates it, calls one or more operations
// and drops it. Used by one thread at a time; holds no lock. The base address is
// fixed when the object is made; endpoint paths are read on every attempt.
class OBXWebService {
 public:
  // Looks up the invoker and data-object services and forms the base address
  // (schema "://" server ":" port from the management server key; empty when
  // "server" is empty). Lookup exceptions (no runtime context, wrong type) leave
  // the constructor; a service that is simply missing is not an error here:
  // every later operation then fails (returns false) without calling anything.
  OBXWebService();

  // A new "Item" with "key", "value" and "type" set in that order. Throws
  // std::runtime_error "NullPointer" when the data-object service is missing
  // or did not create the object.
  orsa::sdo::DataObjectPtr MakeItem(const std::string& key, const std::string& value,
                                    const std::string& type);

  // Sends `request` (a "Message") as `operation`, at most two attempts. True
  // when the answer's first "Map" held exactly one "Item" with a non-empty
  // "value", which is then in `result` (assigned, even when empty, whenever the
  // answer held exactly one item). Never throws: exceptions of the invoker or of
  // the data objects are logged and retried once, unless the calling worker
  // has been asked to quit by then. False at once, without a
  // retry, when the base address or the operation's endpoint value is empty,
  // when the invoker or data-object service is missing, or when the answer has
  // the wrong shape.
  //
  // With a ServerKey set, each attempt sends a fresh nonce and the key number
  // and the answer must carry the server's signature over the exchange; an
  // answer without a valid one is refused with one error line naming the
  // operation, `result` stays untouched and the call returns false at once.
  // A host that cannot pass header fields gets every answer refused.
  bool Invoke(std::string operation, orsa::sdo::DataObjectPtr request, std::string& result);

  // Asks the server for this machine's policy. True when the sealed answer
  // opened to a non-empty document, which is then in `policy` (plain XML); on
  // false `policy` is unchanged. A missing invoker or data-object service
  // gives false (one warning) before anything is built; exceptions of the
  // host while building the request (a data object the host did not create
  // shows as "NullPointer") reach the caller.
  bool UpdatePatchPolicy(const std::string& computerCode, const std::string& userName,
                         std::string version, std::string osVersion, std::string& policy);

  // Send a status / result report as one "infos" item. True only when the
  // server answered exactly "true"; `answer` holds the answer text whenever the
  // answer held one item. Missing services and request-building exceptions
  // behave as for UpdatePatchPolicy.
  bool UploadExecuteStatus(const std::string& status, std::string& answer);
  bool UploadExecuteResult(const std::string& result, std::string& answer);

 private:
  // A "Message" and its one "Map", not yet joined: the items go into the map
  // first and the map into the message last. The list pointers live as long as
  // the objects that own them.
  struct Request {
    orsa::sdo::DataObjectPtr message;
    orsa::sdo::IDataObjectList* maps = nullptr;
    orsa::sdo::DataObjectPtr map;
    orsa::sdo::IDataObjectList* items = nullptr;
  };
  Request NewRequest();
  bool Upload(const char* operation, const std::string& text, std::string& answer);
  orsa::sdo::DataObjectPtr NewObject(const std::string& typeName);
  // False, with one warning, when the invoker or the data-object service is
  // missing; the operations then fail before building anything.
  bool ServicesPresent() const;
  static bool ExtractValue(const orsa::sdo::DataObjectPtr& response, std::string& result);
  // Calls the invoker, signed when a key is set; false when the answer is
  // refused (logged).
  bool Call(const std::string& actionUrl, const std::string& operation,
            orsa::sdo::DataObjectPtr& request, orsa::sdo::DataObjectPtr& response);

  boost::shared_ptr<orsa::ws::IWebServiceInvoker> invoker_;
  boost::shared_ptr<orsa::sdo::ISdoHelper> sdoHelper_;
  // The same invoker where the host can pass header fields; empty on an
  // older host.
  boost::shared_ptr<orsa::ws::IWebServiceExchange> exchange_;
  ServerKey key_;
  std::string baseUrl_;
};

}  // namespace obx
