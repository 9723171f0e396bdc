#include "tools/common/JsonText.h"

#include <cstdio>

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
          size_t len = 0;
          unsigned char low = 0x80, high = 0xbf;  // range of the second byte
          if (c >= 0xc2 && c <= 0xdf) {
            len = 2;
          } else if (c >= 0xe0 && c <= 0xef) {
            len = 3;
            if (c == 0xe0) low = 0xa0;
            if (c == 0xed) high = 0x9f;
          } else if (c >= 0xf0 && c <= 0xf4) {
            len = 4;
            if (c == 0xf0) low = 0x90;
            if (c == 0xf4) high = 0x8f;
          }
          bool ok = len > 0 && i + len <= text.size();
          for (size_t k = 1; ok && k < len; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            ok = k == 1 ? next >= low && next <= high : (next & 0xc0) == 0x80;
          }
          if (ok) {
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
