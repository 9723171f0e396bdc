#include "host/services/SdoHelper.h"

#include "host/services/DataObject.h"

namespace orsahost {

orsa::sdo::DataObjectPtr SdoHelper::createDataObject(const std::string& namespaceUri,
                                                     const std::string& typeName) {
  return orsa::sdo::DataObjectPtr(new DataObject(namespaceUri, typeName));
}

}  // namespace orsahost
