#include "tools/obx-server/Wsdl.h"

#include "host/SoapCodec.h"

namespace obxserver {

std::string WsdlWithAddress(const std::string& address) {
  std::string text = StoredWsdl();
  const std::string marker = "<soap:address location=\"";
  const size_t at = text.find(marker);
  if (at == std::string::npos) return text;
  const size_t begin = at + marker.size();
  const size_t end = text.find('"', begin);
  if (end == std::string::npos) return text;
  std::string escaped = orsahost::soap::EscapeText(address);
  std::string attribute;
  for (char c : escaped) attribute += c == '"' ? std::string("&quot;") : std::string(1, c);
  text.replace(begin, end - begin, attribute);
  return text;
}

}  // namespace obxserver
