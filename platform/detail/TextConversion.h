#pragma once
// The system's half of ConvertCodePage: a non-empty text from one code page
// to another, through iconv or the Windows conversion calls.
#include <string>

namespace platform {
namespace detail {

// kErrorSuccess with `*out` set, or the Windows error code of the failure
// (kErrorNoUnicodeTranslation for text that does not convert,
// kErrorInvalidParameter for a code page the system does not know).
long ConvertText(unsigned fromCodePage, unsigned toCodePage, const std::string& text,
                 std::string* out);

}  // namespace detail
}  // namespace platform
