#pragma once
// Writes registry keys as .reg text (version 5 format) that RegFileParser reads
// back to the same keys, value types and bytes. The text is built with "\n"
// line ends in the registry's narrow bytes; FileBytes makes of it the file the
// registry editor writes: UTF-16LE with its byte-order mark, "\r\n" line ends.
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
  // The bytes of the file holding `text`. Stored bytes that are not valid
  // UTF-8 travel as U+DC80..U+DCFF, which the reader turns back into them.
  static std::string FileBytes(const std::string& text);
};

}  // namespace orsareg
