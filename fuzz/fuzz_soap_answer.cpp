// The reader of the management server's SOAP answers. Any text must end as a
// parsed message, a Fault or std::runtime_error. A message it accepts, with
// every text in UTF-8 (the encoding the envelope declares), must also come
// back unchanged when written as a request and read again: the agent and
// obx-server speak through this one codec, so a value that does not survive
// the round would be altered on the wire.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "host/SoapCodec.h"

namespace soap = orsahost::soap;

namespace {

// The bytes of a text with everything outside printable ASCII as \xNN.
std::string Shown(const std::string& text) {
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

// Well-formed UTF-8: shortest forms, no surrogates, nothing above U+10FFFF.
bool IsUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = 1;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;  // range of the second byte
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
    for (size_t k = 1; k < length; ++k) {
      const unsigned char b = static_cast<unsigned char>(text[i + k]);
      if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xbf)) return false;
    }
    i += length;
  }
  return true;
}

bool AllUtf8(const soap::Message& message) {
  for (const soap::Map& map : message.maps) {
    for (const soap::Item& item : map) {
      if (!IsUtf8(item.key) || !IsUtf8(item.value) || !IsUtf8(item.type)) return false;
    }
  }
  return true;
}

// "" when both messages are the same, else what differs first.
std::string Difference(const soap::Message& a, const soap::Message& b) {
  if (a.maps.size() != b.maps.size()) return "number of maps";
  for (size_t m = 0; m < a.maps.size(); ++m) {
    if (a.maps[m].size() != b.maps[m].size()) return "number of items";
    for (size_t i = 0; i < a.maps[m].size(); ++i) {
      const soap::Item& x = a.maps[m][i];
      const soap::Item& y = b.maps[m][i];
      if (x.key != y.key) return "key \"" + Shown(x.key) + "\" became \"" + Shown(y.key) + "\"";
      if (x.value != y.value) {
        return "value \"" + Shown(x.value) + "\" became \"" + Shown(y.value) + "\"";
      }
      if (x.type != y.type)
        return "type \"" + Shown(x.type) + "\" became \"" + Shown(y.type) + "\"";
    }
  }
  return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  soap::Parsed parsed;
  try {
    parsed = soap::ParseEnvelope(text);
  } catch (const std::runtime_error&) {  // soap::Fault included
    return 0;
  }

  // Other bytes are carried as they come, but TinyXML takes a byte that
  // begins a multibyte character together with the bytes after it, whatever
  // they are, so such a text cannot be promised to come back the same.
  if (!AllUtf8(parsed.message)) return 0;

  std::string request;
  try {
    request = soap::BuildEnvelope(parsed.wrapper, parsed.message);
  } catch (const std::invalid_argument&) {
    return 0;  // the wrapper's name is no operation name
  } catch (const std::runtime_error&) {
    return 0;  // a value holds a control byte XML cannot carry
  }
  const soap::Parsed again = soap::ParseEnvelope(request);
  const std::string difference =
      again.wrapper != parsed.wrapper ? "wrapper" : Difference(parsed.message, again.message);
  if (!difference.empty()) {
    std::fprintf(stderr, "message changed on its way through BuildEnvelope: %s\n",
                 difference.c_str());
    std::abort();
  }
  return 0;
}
