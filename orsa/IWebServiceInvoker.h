#pragma once
#include <string>
#include <utility>
#include <vector>

#include "orsa/IOrsaObject.h"
#include "orsa/ISdo.h"

namespace orsa {
namespace ws {

// The namespace URI of the management server's messages: the data objects of
// every request and answer are created in it, and the SOAP invoker qualifies
// every element under the Body with it.
inline constexpr const char kObxNamespace[] = "urn:obx:patch:1";

// Calls one SOAP operation. The request is a "Message" data object; the
// invoker fills `*response` with the answer's "Message". A transport failure,
// a time-out, an HTTP error or a SOAP Fault throws std::runtime_error carrying
// the reason (the fault text for a Fault). The trailing arguments are reserved
// and passed as 0. The return value is 0 on success.
class IWebServiceInvoker : public IOrsaObject {
 public:
  static constexpr const char* kTypeName = "orsa::ws::IWebServiceInvoker";
  virtual int invoke(const char* actionUrl, const char* operation, sdo::DataObjectPtr* request,
                     sdo::DataObjectPtr* response, int reserved1, int reserved2, int reserved3,
                     int reserved4) = 0;
};

// One call as it went over the wire, for a caller that authenticates answers
// (orsa/AnswerSignature.h).
struct SoapExchange {
  using Fields = std::vector<std::pair<std::string, std::string>>;
  Fields requestHeaders;    // in: extra header fields sent with the request
  std::string requestBody;  // out: the request body exactly as sent
  std::string answerBody;   // out: the answer body exactly as received
  Fields answerHeaders;     // out: the answer's header fields, names as sent
};

// The invoker of a host that can pass header fields both ways. A host
// registers it beside IWebServiceInvoker; an older host does not, and a
// caller that needs it then finds none.
class IWebServiceExchange : public IWebServiceInvoker {
 public:
  static constexpr const char* kTypeName = "orsa::ws::IWebServiceExchange";
  // As invoke; `exchange` (may be null) brings the extra request fields and
  // takes back both bodies and the answer's fields, also when the answer is
  // then refused by an exception (a Fault, an HTTP error).
  virtual int invokeExchange(const char* actionUrl, const char* operation,
                             sdo::DataObjectPtr* request, sdo::DataObjectPtr* response,
                             SoapExchange* exchange) = 0;
};

}  // namespace ws
}  // namespace orsa
