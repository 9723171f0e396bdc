#pragma once
// Text helpers shared by the fuzz targets.
#include <cstdio>
#include <string>

namespace obxfuzz {

// Well-formed UTF-8: shortest forms, no surrogates, nothing above U+10FFFF.
// The XML readers carry other bytes as they come, but TinyXML takes a byte
// that begins a multibyte character together with the bytes after it,
// whatever they are, so their texts cannot be promised to survive a round.
inline bool IsWellFormedUtf8(const std::string& text) {
  for (std::string::size_type i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::string::size_type length = 1;
    unsigned char low = 0x80;  // range of the second byte
    unsigned char high = 0xbf;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xc2 && c <= 0xdf) {
      length = 2;
    } else if (c >= 0xe0 && c <= 0xef) {
      length = 3;
      if (c == 0xe0) low = 0xa0;
      if (c == 0xed) high = 0x9f;
    } else if (c >= 0xf0 && c <= 0xf4) {
      length = 4;
      if (c == 0xf0) low = 0x90;
      if (c == 0xf4) high = 0x8f;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (std::string::size_type k = 1; k < length; ++k) {
      const unsigned char b = static_cast<unsigned char>(text[i + k]);
      if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xbf)) return false;
    }
    i += length;
  }
  return true;
}

// The bytes of a text with everything outside printable ASCII as \xNN.
inline std::string Shown(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace obxfuzz
