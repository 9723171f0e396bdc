#pragma once
// Helpers of the SOAP invoker tests: request messages, answer envelopes and
// the text of the failure a call ends in.
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "host/services/SdoHelper.h"
#include "host/services/WebServiceInvoker.h"
#include "orsa/IWebServiceInvoker.h"

namespace webserviceinvokertest {

using orsa::sdo::DataObjectPtr;
using orsahost::WebServiceInvoker;

// Message -> one Map per inner vector -> Items with type "string".
inline DataObjectPtr MakeMessage(
    const std::vector<std::vector<std::pair<std::string, std::string>>>& maps) {
  orsahost::SdoHelper sdo;
  const std::string ns = orsa::ws::kObxNamespace;
  DataObjectPtr message = sdo.createDataObject(ns, "Message");
  for (const auto& entries : maps) {
    DataObjectPtr map = sdo.createDataObject(ns, "Map");
    for (const auto& kv : entries) {
      DataObjectPtr item = sdo.createDataObject(ns, "Item");
      item->setCString("key", kv.first);
      item->setCString("value", kv.second);
      item->setCString("type", "string");
      map->getList("item").append(item);
    }
    message->getList("map").append(map);
  }
  return message;
}

inline std::string AnswerEnvelope(const std::string& inner) {
  return "<?xml version=\"1.0\"?>\n<e:Envelope "
         "xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\">"
         "<e:Body>" +
         inner + "</e:Body></e:Envelope>";
}

// Calls `operation` and returns the text of the exception it throws ("" when none).
inline std::string FailureOf(WebServiceInvoker& invoker, const std::string& url,
                             const std::string& operation, DataObjectPtr& response) {
  DataObjectPtr request = MakeMessage({{{"infos", "x"}}});
  try {
    invoker.invoke(url.c_str(), operation.c_str(), &request, &response, 0, 0, 0, 0);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

}  // namespace webserviceinvokertest
