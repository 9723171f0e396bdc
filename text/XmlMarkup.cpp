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
  const char next = at + 1 < xml.size() ? xml[at + 1] : '\0';
  if (next == '!' || next == '?') {
    if (StartsWith(xml, at, "<!--")) return EndingAt(xml, at + 4, "-->", XmlMarkupKind::kComment);
    if (StartsWith(xml, at, "<![CDATA["))
      return EndingAt(xml, at + 9, "]]>", XmlMarkupKind::kCData);
    if (next == '?') return EndingAt(xml, at + 2, "?>", XmlMarkupKind::kProcessingInstruction);
    return EndingAt(xml, at + 2, ">", XmlMarkupKind::kDeclaration);
  }

  // Over the bytes themselves: this runs for every tag of every document.
  const char* const begin = xml.data();
  const char* const end = begin + xml.size();
  const char* p = begin + at + 1;
  char quote = 0;
  for (; p < end; ++p) {
    if (quote) {
      if (*p == quote) quote = 0;
    } else if (*p == '"' || *p == '\'') {
      quote = *p;
    } else if (*p == '>') {
      break;
    }
  }
  if (p >= end) return {XmlMarkupKind::kStartTag, std::string::npos};
  const std::string::size_type j = static_cast<std::string::size_type>(p - begin);
  if (next == '/') return {XmlMarkupKind::kEndTag, j + 1};
  if (xml[j - 1] == '/') return {XmlMarkupKind::kEmptyElementTag, j + 1};
  return {XmlMarkupKind::kStartTag, j + 1};
}

}  // namespace textutil
