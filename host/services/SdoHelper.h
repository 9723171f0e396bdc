#pragma once
// The host's data-object service: makes the property bags that requests and
// answers of the SOAP invoker are built from.
#include <string>

#include "orsa/ISdo.h"

namespace orsahost {

// Stateless; may be used from any thread. Any namespace URI and type name are
// accepted (the component uses orsa::ws::kObxNamespace with "Message", "Map"
// and "Item"); allocation failure is the only exception.
class SdoHelper : public orsa::sdo::ISdoHelper {
 public:
  // A new, empty orsahost::DataObject; the pointer holds its only reference.
  orsa::sdo::DataObjectPtr createDataObject(const std::string& namespaceUri,
                                            const std::string& typeName) override;
};

}  // namespace orsahost
