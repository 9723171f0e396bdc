#pragma once
// Writes registry keys as .reg text (version 5 format, UTF-8, "\n" line ends)
// that RegFileParser reads back to the same keys, value types and bytes.
#include <string>

#include "platform/Registry.h"

namespace orsareg {

class RegFileWriter {
 public:
  // The header line followed by a blank line.
  static std::string Header();
  // One value line: `"name"=...` or `@=...`. Strings that are one clean text
  // with its NUL are written quoted, 4-byte DWORDs as dword:, REG_BINARY as
  // hex:, everything else as hex(N): with text types in UTF-16LE; long hex
  // data continues on further lines ending in "\".
  static std::string ValueLine(const platform::RegValue& value);
  // The section of the key at `subkey` and of every key below it, each a key
  // line, its values and a blank line. kErrorSuccess or the failing call's code.
  static long AppendTree(platform::RegRoot root, const std::string& subkey, std::string* text);
};

}  // namespace orsareg
