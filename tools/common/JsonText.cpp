#include "tools/common/JsonText.h"

#include <cstdio>

#include "text/Utf8.h"

namespace obxtools {

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7f) {
          char buf[8];
          std::snprintf(buf, sizeof(buf), "\\u%04x", c);
          out += buf;
        } else if (c < 0x80) {
          out += static_cast<char>(c);
        } else {
          // Copy a well-formed UTF-8 sequence; a stray byte, an overlong form
          // or a surrogate becomes U+FFFD so the output stays valid JSON.
          const size_t len = textutil::Utf8SequenceLength(text, i);
          if (len > 0) {
            out.append(text, i, len);
            i += len - 1;
          } else {
            out += "\\ufffd";
          }
        }
    }
  }
  return out + "\"";
}

}  // namespace obxtools
