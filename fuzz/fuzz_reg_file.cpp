// The .reg importer's parser. Any text must end as a list of changes or as
// one error with its line. Every value it reads must also survive an export:
// RegFileWriter writes it as a value line that the parser reads back to the
// same name, type and bytes, which is how orsa-reg's export and import meet.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/reg/RegFileParser.h"
#include "tools/reg/RegFileWriter.h"

namespace {

void Expect(bool condition, const char* what, const std::string& text) {
  if (condition) return;
  std::fprintf(stderr, "%s:\n%s\n", what, text.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string content(reinterpret_cast<const char*>(data), size);
  orsareg::RegFileParser parser;
  if (!parser.Parse(content)) {
    Expect(parser.errorLine() >= 1 && parser.changes().empty() && !parser.errorMessage().empty(),
           "failed parse without its line and message", content);
    return 0;
  }
  for (const platform::RegChange& change : parser.changes()) {
    if (change.kind != platform::RegChange::kSetValue) continue;
    platform::RegValue value;
    value.name = change.name;
    value.type = change.type;
    value.data = change.data;
    const std::string exported = orsareg::RegFileWriter::Header() + "[HKEY_LOCAL_MACHINE\\K]\n" +
                                 orsareg::RegFileWriter::ValueLine(value);
    orsareg::RegFileParser again;
    Expect(again.Parse(exported), "exported value does not parse", exported);
    Expect(again.changes().size() == 2, "exported value gives other changes", exported);
    const platform::RegChange& back = again.changes()[1];
    Expect(back.kind == platform::RegChange::kSetValue && back.name == change.name &&
               back.type == change.type && back.data == change.data,
           "exported value reads back changed", exported);
  }
  return 0;
}
