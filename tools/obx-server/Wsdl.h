#pragma once
// The service description kept in tools/obx-server/obx.wsdl, built into the
// program so that it is served without depending on the source tree.
#include <string>

namespace obxserver {

// The WSDL text as stored in the repository.
const std::string& StoredWsdl();

// The WSDL with its soap:address location replaced by `address` (which is
// XML-escaped here).
std::string WsdlWithAddress(const std::string& address);

}  // namespace obxserver
