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

#include "fuzz/Utf8.h"
#include "host/services/SoapCodec.h"

namespace soap = orsahost::soap;
using obxfuzz::IsWellFormedUtf8;
using obxfuzz::Shown;

namespace {

bool AllUtf8(const soap::Message& message) {
  for (const soap::Map& map : message.maps) {
    for (const soap::Item& item : map) {
      if (!IsWellFormedUtf8(item.key) || !IsWellFormedUtf8(item.value) ||
          !IsWellFormedUtf8(item.type)) {
        return false;
      }
    }
  }
  return true;
}

std::string Change(const char* what, const std::string& before, const std::string& after) {
  return std::string(what) + " \"" + Shown(before) + "\" became \"" + Shown(after) + "\"";
}

// "" when both messages are the same, else what differs first.
std::string Difference(const soap::Message& a, const soap::Message& b) {
  if (a.maps.size() != b.maps.size()) return "number of maps";
  for (size_t m = 0; m < a.maps.size(); ++m) {
    if (a.maps[m].size() != b.maps[m].size()) return "number of items";
    for (size_t i = 0; i < a.maps[m].size(); ++i) {
      const soap::Item& x = a.maps[m][i];
      const soap::Item& y = b.maps[m][i];
      if (x.key != y.key) return Change("key", x.key, y.key);
      if (x.value != y.value) return Change("value", x.value, y.value);
      if (x.type != y.type) return Change("type", x.type, y.type);
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
