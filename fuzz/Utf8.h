#pragma once
// Text helpers shared by the fuzz targets.
#include <cstdio>
#include <string>

#include "text/Utf8.h"

namespace obxfuzz {

// Well-formed UTF-8: shortest forms, no surrogates, nothing above U+10FFFF.
// The XML readers carry other bytes as they come, but TinyXML takes a byte
// that begins a multibyte character together with the bytes after it,
// whatever they are, so their texts cannot be promised to survive a round.
inline bool IsWellFormedUtf8(const std::string& text) {
  for (std::string::size_type i = 0; i < text.size();) {
    const size_t length = textutil::Utf8SequenceLength(text, i);
    if (length == 0) return false;
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
