#pragma once
// Conversion of narrow text between code pages. The ANSI code page is the
// codeset of the process locale (UTF-8 in the usual locale, CP936 in a GBK one).
#include <string>

namespace platform {

constexpr unsigned kCpAcp = 0;
constexpr unsigned kCpUtf8 = 65001;

// The iconv name of the ANSI code page, e.g. "UTF-8" or "GBK".
std::string AnsiCodePageName();

// Converts `text` from one code page to the other. On failure returns false and
// sets `*error` to a Windows error code (1113 no mapping, 87 bad parameter).
bool ConvertCodePage(unsigned fromCodePage, unsigned toCodePage, const std::string& text,
                     std::string* out, long* error);

}  // namespace platform
