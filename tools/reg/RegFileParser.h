#pragma once
// Reads the text of a .reg file into the registry changes it describes.
//
// Accepted: the header "Windows Registry Editor Version 5.00" (hex(1), hex(2)
// and hex(7) data in UTF-16LE) or "REGEDIT4" (that data as narrow bytes); the
// file itself in UTF-8 (optional BOM) or UTF-16LE with its BOM. Lines: "[KEY]",
// "[-KEY]" (delete the key and everything below it), comments starting with
// ";", and values `"name"=` or `@=` followed by "text" (\\ and \" escapes),
// dword:XXXXXXXX, hex:bytes, hex(N):bytes or - (delete the value). A line
// ending in "\" continues on the next one. KEY starts with HKLM, HKCU or their
// long names.
//
// Parsing stops at the first malformed line and reports its number (counted
// from 1, the line where the entry starts); the caller then applies nothing.
// Plain value class, no I/O.
#include <string>
#include <vector>

#include "platform/Registry.h"

namespace orsareg {

class RegFileParser {
 public:
  // True when the whole text is well formed; then changes() lists everything
  // in file order (each key line yields kCreateKey or kDeleteTree).
  bool Parse(const std::string& content);

  const std::vector<platform::RegChange>& changes() const { return changes_; }
  int errorLine() const { return errorLine_; }
  const std::string& errorMessage() const { return errorMessage_; }

 private:
  bool Fail(int line, const std::string& message);
  bool ParseKeyLine(int line, const std::string& text);
  bool ParseValueLine(int line, const std::string& text);
  bool ParseData(int line, const std::string& data, platform::RegChange* change);

  std::vector<platform::RegChange> changes_;
  int errorLine_ = 0;
  std::string errorMessage_;
  bool wideStrings_ = true;  // hex(1)/(2)/(7) hold UTF-16LE (version 5 files)
  bool haveKey_ = false;
  bool keyDeleted_ = false;
  platform::RegRoot root_ = platform::RegRoot::kLocalMachine;
  std::string subkey_;
};

}  // namespace orsareg
