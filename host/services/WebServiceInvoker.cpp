#include "host/services/WebServiceInvoker.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "host/services/CurlLibrary.h"
#include "host/services/CurlPerform.h"
#include "host/services/LogManager.h"
#include "host/services/SdoHelper.h"

namespace orsahost {

namespace {

struct Transfer {
  std::string body;
  size_t limit = 0;
  bool tooLarge = false;
};

size_t OnWrite(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  if (t->body.size() + bytes > t->limit) {
    t->tooLarge = true;
    return 0;  // makes curl end the transfer with a write error
  }
  t->body.append(data, bytes);
  return bytes;
}

// Collects the answer's header fields; a new status line (an interim 1xx
// answer before the real one) starts the list again.
size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* fields = static_cast<orsa::ws::SoapExchange::Fields*>(user);
  const size_t bytes = size * count;
  std::string line(data, bytes);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (line.compare(0, 5, "HTTP/") == 0) {
    fields->clear();
    return bytes;
  }
  const size_t colon = line.find(':');
  if (colon == std::string::npos || colon == 0) return bytes;
  size_t start = colon + 1;
  while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
  fields->emplace_back(line.substr(0, colon), line.substr(start));
  return bytes;
}

// A field the caller adds must not end the head or start another field.
void CheckField(const std::pair<std::string, std::string>& field) {
  const std::string& name = field.first;
  bool ok = !name.empty();
  for (char c : name) {
    const bool token = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_';
    ok = ok && token;
  }
  for (char c : field.second) ok = ok && static_cast<unsigned char>(c) >= 0x20 && c != 0x7f;
  if (!ok) throw std::runtime_error("SOAP call: invalid request header field");
}

struct CurlDeleter {
  void operator()(CURL* c) const { curl::easy_cleanup(c); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl::slist_free_all(l); }
};

void Append(std::unique_ptr<curl_slist, SlistDeleter>& list, const std::string& header) {
  curl_slist* grown = curl::slist_append(list.get(), header.c_str());
  if (grown == nullptr) throw std::runtime_error("out of memory building request headers");
  list.release();  // `grown` is the same list, or a new head when it was empty
  list.reset(grown);
}

}  // namespace

WebServiceInvoker::WebServiceInvoker() : WebServiceInvoker(WebServiceInvokerOptions()) {}

WebServiceInvoker::WebServiceInvoker(WebServiceInvokerOptions options)
    : options_(std::move(options)) {}

soap::Message WebServiceInvoker::FromDataObject(orsa::sdo::IDataObject& message) {
  soap::Message out;
  orsa::sdo::IDataObjectList& maps = message.getList("map");
  for (uint32_t m = 0; m < maps.size(); ++m) {
    orsa::sdo::DataObjectPtr map = maps.get(m);
    orsa::sdo::IDataObjectList& items = map->getList("item");
    soap::Map wire;
    for (uint32_t i = 0; i < items.size(); ++i) {
      orsa::sdo::DataObjectPtr item = items.get(i);
      wire.push_back(
          soap::Item{item->getCString("key"), item->getCString("value"), item->getCString("type")});
    }
    out.maps.push_back(std::move(wire));
  }
  return out;
}

orsa::sdo::DataObjectPtr WebServiceInvoker::ToDataObject(const soap::Message& message) {
  SdoHelper sdo;
  const std::string ns = orsa::ws::kObxNamespace;
  orsa::sdo::DataObjectPtr out = sdo.createDataObject(ns, "Message");
  orsa::sdo::IDataObjectList& maps = out->getList("map");
  for (const soap::Map& wire : message.maps) {
    orsa::sdo::DataObjectPtr map = sdo.createDataObject(ns, "Map");
    orsa::sdo::IDataObjectList& items = map->getList("item");
    for (const soap::Item& w : wire) {
      orsa::sdo::DataObjectPtr item = sdo.createDataObject(ns, "Item");
      item->setCString("key", w.key);
      item->setCString("value", w.value);
      item->setCString("type", w.type);
      items.append(item);
    }
    maps.append(map);
  }
  return out;
}

std::string WebServiceInvoker::Post(const std::string& url, const std::string& operation,
                                    const std::string& body, long& status,
                                    orsa::ws::SoapExchange* exchange) const {
  const curl::CurlLease lease;
  std::string unavailable;
  if (!lease.Loaded(&unavailable))
    throw std::runtime_error("SOAP call " + operation + ": " + unavailable);
  std::unique_ptr<CURL, CurlDeleter> handle(curl::easy_init());
  if (!handle) throw std::runtime_error("SOAP call " + operation + ": cannot create a connection");
  CURL* c = handle.get();

  std::unique_ptr<curl_slist, SlistDeleter> headers;
  Append(headers, "Content-Type: text/xml; charset=utf-8");
  Append(headers, "SOAPAction: \"" + operation + "\"");
  // An empty value removes the header curl would otherwise add for a large body.
  Append(headers, "Expect:");
  if (exchange != nullptr) {
    for (const auto& field : exchange->requestHeaders) {
      Append(headers, field.first + ": " + field.second);
    }
  }

  Transfer transfer;
  transfer.limit = options_.maxResponseBytes;
  char error[CURL_ERROR_SIZE] = {0};

  curl::easy_setopt(c, CURLOPT_URL, url.c_str());
  curl::easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl::easy_setopt(c, CURLOPT_NOSIGNAL, 1L);  // time-outs must not raise SIGALRM in a host thread
  curl::easy_setopt(c, CURLOPT_POST, 1L);
  curl::easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
  curl::easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl::easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  curl::easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  curl::easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, options_.connectTimeoutMs);
  curl::easy_setopt(c, CURLOPT_TIMEOUT_MS, options_.totalTimeoutMs);
  curl::easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl::easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!options_.caBundle.empty()) curl::easy_setopt(c, CURLOPT_CAINFO, options_.caBundle.c_str());
  curl::easy_setopt(c, CURLOPT_WRITEFUNCTION, &OnWrite);
  curl::easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
  curl::easy_setopt(c, CURLOPT_ERRORBUFFER, error);
  if (exchange != nullptr) {
    exchange->answerHeaders.clear();
    curl::easy_setopt(c, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl::easy_setopt(c, CURLOPT_HEADERDATA, &exchange->answerHeaders);
  }

  const CurlOutcome outcome = PerformWatchingStop(c, options_.cancelRequested);
  const std::string what = "SOAP call " + operation + " failed: ";
  if (outcome.stopped) throw std::runtime_error(what + "cancelled by a quit request");
  if (outcome.multi != CURLM_OK)
    throw std::runtime_error(what + curl::multi_strerror(outcome.multi));
  const CURLcode rc = outcome.code;
  if (rc != CURLE_OK) {
    const std::string detail = error[0] ? error : curl::easy_strerror(rc);
    if (transfer.tooLarge) throw std::runtime_error(what + "answer larger than the limit");
    if (rc == CURLE_OPERATION_TIMEDOUT) throw std::runtime_error(what + "timed out: " + detail);
    throw std::runtime_error(what + detail);
  }
  status = 0;
  curl::easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  return std::move(transfer.body);
}

int WebServiceInvoker::invoke(const char* actionUrl, const char* operation,
                              orsa::sdo::DataObjectPtr* request, orsa::sdo::DataObjectPtr* response,
                              int, int, int, int) {
  return invokeExchange(actionUrl, operation, request, response, nullptr);
}

int WebServiceInvoker::invokeExchange(const char* actionUrl, const char* operation,
                                      orsa::sdo::DataObjectPtr* request,
                                      orsa::sdo::DataObjectPtr* response,
                                      orsa::ws::SoapExchange* exchange) {
  if (actionUrl == nullptr || operation == nullptr || response == nullptr) {
    throw std::runtime_error("SOAP call: missing address, operation or response");
  }
  if (request == nullptr) throw std::runtime_error("NullPointer");
  const std::string op = operation;
  // The name becomes an element name and a header value: anything else could
  // break the envelope or inject a header.
  if (!soap::IsValidOperationName(op)) {
    throw std::runtime_error("SOAP call: invalid operation name");
  }
  if (exchange != nullptr) {
    for (const auto& field : exchange->requestHeaders) CheckField(field);
  }
  const std::string envelope = soap::BuildEnvelope(op, FromDataObject(**request));
  if (exchange != nullptr) exchange->requestBody = envelope;

  long status = 0;
  const std::string answer = Post(actionUrl, op, envelope, status, exchange);
  if (exchange != nullptr) exchange->answerBody = answer;

  soap::Parsed parsed;
  try {
    parsed = soap::ParseEnvelope(answer);
  } catch (const soap::Fault&) {
    throw;  // a Fault is reported with its own text whatever the status
  } catch (const std::exception& e) {
    if (status != 200) {
      throw std::runtime_error("SOAP call " + op + " failed: HTTP status " +
                               std::to_string(status));
    }
    throw std::runtime_error("SOAP call " + op + " failed: " + e.what());
  }
  if (status != 200) {
    throw std::runtime_error("SOAP call " + op + " failed: HTTP status " + std::to_string(status));
  }
  if (parsed.wrapper != op + "Response") {
    throw std::runtime_error("SOAP call " + op + " failed: unexpected answer element " +
                             CutText(parsed.wrapper));
  }
  *response = ToDataObject(parsed.message);
  return 0;
}

}  // namespace orsahost
