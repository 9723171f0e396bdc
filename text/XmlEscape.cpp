#include "text/XmlEscape.h"

#include <stdexcept>

namespace textutil {

std::string EscapeXml(const std::string& text, XmlControlBytes controls) {
  std::string out;
  out.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\xEF' && i + 2 < text.size() &&
        ((text[i + 1] == '\xBB' && text[i + 2] == '\xBF') ||
         (text[i + 1] == '\xBF' && (text[i + 2] == '\xBE' || text[i + 2] == '\xBF')))) {
      out += text[i + 1] == '\xBB' ? "&#xFEFF;" : text[i + 2] == '\xBE' ? "&#xFFFE;" : "&#xFFFF;";
      i += 2;
      continue;
    }
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      case '\r':
        out += "&#13;";
        break;
      case '\t':
      case '\n':
        out += c;
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 && controls == XmlControlBytes::kRefuse)
          throw std::runtime_error("text holds a control character that XML cannot carry");
        out += c;
    }
  }
  return out;
}

}  // namespace textutil
