#pragma once
// The host's SOAP invoker: sends a "Message" data object to the management
// server as a SOAP 1.1 request over HTTP(S) with libcurl and turns the answer
// back into a "Message" data object (wire form: host/services/SoapCodec.h).
#include <cstddef>
#include <functional>
#include <string>

#include "host/services/SoapCodec.h"
#include "orsa/ISdo.h"
#include "orsa/IWebServiceInvoker.h"

namespace orsahost {

struct WebServiceInvokerOptions {
  // Time allowed to establish the connection (TCP and TLS handshake).
  long connectTimeoutMs = 15000;
  // Time allowed for the whole call, connection included; a server that
  // accepts and never answers ends the call with a time-out exception.
  long totalTimeoutMs = 120000;
  // PEM file of the certificate authorities for https; empty: the system's
  // store. Certificates and host names are always verified.
  std::string caBundle;
  // An answer larger than this ends the call with an exception.
  size_t maxResponseBytes = size_t{256} << 20;
  // Polled during the transfer (at least once a second while waiting); true
  // aborts the call with an exception. Empty: the calling thread's quit
  // request (platform::QuitRequested) is watched, so a worker asked to stop
  // is not held by a slow server.
  std::function<bool()> cancelRequested;
};

// Requests: POST to the action address with "Content-Type: text/xml;
// charset=utf-8", SOAPAction "<operation>" in quotes and a Content-Length (no
// chunked body, no "Expect: 100-continue"); redirects are not followed;
// only http and https addresses are accepted.
//
// Threads: invoke may be called from several threads at once; every call
// uses its own connection. Failures are std::runtime_error: a SOAP Fault
// carries the faultstring as its text; an HTTP status other than 200 without
// a Fault, a time-out, a transport error, a malformed answer (also one nested
// or sized beyond text/XmlLimits.h) or an answer element other than
// <operation>Response carry a description. Whatever of the text came from
// the server is cut to kMaxOutsideTextBytes (host/services/LogManager.h): callers log
// these texts.
class WebServiceInvoker : public orsa::ws::IWebServiceExchange {
 public:
  WebServiceInvoker();
  explicit WebServiceInvoker(WebServiceInvokerOptions options);

  // `request` must point to a non-empty "Message" pointer ("NullPointer"
  // otherwise); `*response` is replaced by a new "Message" holding the answer
  // (created in orsa::ws::kObxNamespace). Returns 0; the trailing arguments
  // are ignored. `*response` is left untouched when the call throws.
  int invoke(const char* actionUrl, const char* operation, orsa::sdo::DataObjectPtr* request,
             orsa::sdo::DataObjectPtr* response, int reserved1, int reserved2, int reserved3,
             int reserved4) override;
  // As invoke, with extra request header fields and both bodies and the
  // answer's fields handed back. A field name must be a token and a value
  // printable text without line breaks (std::runtime_error otherwise, before
  // anything is sent).
  int invokeExchange(const char* actionUrl, const char* operation,
                     orsa::sdo::DataObjectPtr* request, orsa::sdo::DataObjectPtr* response,
                     orsa::ws::SoapExchange* exchange) override;

  // The Message -> list "map" of Map -> list "item" of Item -> "key",
  // "value", "type" tree, read through the data-object interface only.
  static soap::Message FromDataObject(orsa::sdo::IDataObject& message);
  static orsa::sdo::DataObjectPtr ToDataObject(const soap::Message& message);

 private:
  // `exchange` may be null; when set, its request fields are sent and the
  // answer's fields are stored in it.
  std::string Post(const std::string& url, const std::string& operation, const std::string& body,
                   long& status, orsa::ws::SoapExchange* exchange) const;

  WebServiceInvokerOptions options_;
};

}  // namespace orsahost
