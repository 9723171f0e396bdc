#include "text/XmlMarkup.h"

#include <cstring>

namespace textutil {

namespace {

bool StartsWith(const std::string& text, std::string::size_type at, const char* prefix) {
  return text.compare(at, std::strlen(prefix), prefix) == 0;
}

XmlMarkup EndingAt(const std::string& xml, std::string::size_type from, const char* terminator,
                   XmlMarkupKind kind) {
  const std::string::size_type end = xml.find(terminator, from);
  return {kind, end == std::string::npos ? end : end + std::strlen(terminator)};
}

}  // namespace

XmlMarkup ScanXmlMarkup(const std::string& xml, std::string::size_type at) {
  if (StartsWith(xml, at, "<!--")) return EndingAt(xml, at + 4, "-->", XmlMarkupKind::kComment);
  if (StartsWith(xml, at, "<![CDATA[")) return EndingAt(xml, at + 9, "]]>", XmlMarkupKind::kCData);
  if (StartsWith(xml, at, "<?")) {
    return EndingAt(xml, at + 2, "?>", XmlMarkupKind::kProcessingInstruction);
  }
  if (StartsWith(xml, at, "<!")) return EndingAt(xml, at + 2, ">", XmlMarkupKind::kDeclaration);

  std::string::size_type j = at + 1;
  char quote = 0;
  for (; j < xml.size(); ++j) {
    if (quote) {
      if (xml[j] == quote) quote = 0;
    } else if (xml[j] == '"' || xml[j] == '\'') {
      quote = xml[j];
    } else if (xml[j] == '>') {
      break;
    }
  }
  if (j >= xml.size()) return {XmlMarkupKind::kStartTag, std::string::npos};
  if (at + 1 < xml.size() && xml[at + 1] == '/') return {XmlMarkupKind::kEndTag, j + 1};
  if (xml[j - 1] == '/') return {XmlMarkupKind::kEmptyElementTag, j + 1};
  return {XmlMarkupKind::kStartTag, j + 1};
}

}  // namespace textutil
