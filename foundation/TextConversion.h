#pragma once
// Conversion of narrow text between the system (ANSI) code page and UTF-8.
#include <string>

namespace obx {

// Both convert the text up to its first NUL (they take a C text), through
// UTF-16 as Windows does. An empty text gives "" without any system call.
// Failure throws CRootException with the system error code (1113 when a
// character has no mapping) and the message "MultiByteToWideChar" when the
// text could not be read in its code page, "WideCharToMultiByte" when it could
// not be written in the target one. No byte is ever silently dropped.
std::string AnsiToUtf8(const std::string& text);
std::string Utf8ToAnsi(const std::string& text);

}  // namespace obx
