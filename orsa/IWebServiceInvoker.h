#pragma once
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

}  // namespace ws
}  // namespace orsa
