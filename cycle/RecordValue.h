#pragma once
// The values of the records sent to the management server: registry text in
// the system code page made UTF-8.
#include <string>

namespace obx {

// A value read through the ANSI registry calls, converted from the system
// code page to UTF-8 (up to its first NUL). Bytes the code page cannot read
// become U+FFFD, with one warning, rather than failing the record.
std::string RecordValueToUtf8(const std::string& ansiValue);

}  // namespace obx
