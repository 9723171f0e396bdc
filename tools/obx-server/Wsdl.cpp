#include "tools/obx-server/Wsdl.h"

#include "text/XmlEscape.h"

namespace obxserver {

std::string WsdlWithAddress(const std::string& address) {
  std::string text = StoredWsdl();
  const std::string marker = "<soap:address location=\"";
  const size_t at = text.find(marker);
  if (at == std::string::npos) return text;
  const size_t begin = at + marker.size();
  const size_t end = text.find('"', begin);
  if (end == std::string::npos) return text;
  text.replace(begin, end - begin, textutil::EscapeXml(address));
  return text;
}

}  // namespace obxserver
