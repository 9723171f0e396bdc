#pragma once
// Conversion of narrow text between code pages. The ANSI code page is the
// system's (GetACP) on Windows, and on Linux the codeset of the process locale
// (UTF-8 in the usual locale, CP936 in a GBK one).
#include <string>

#include "platform/Export.h"

namespace platform {

constexpr unsigned kCpAcp = 0;
constexpr unsigned kCpUtf8 = 65001;
// UTF-16 little-endian, the "wide" text of Windows; lets a caller convert in
// the same two steps as MultiByteToWideChar and WideCharToMultiByte.
constexpr unsigned kCpUtf16 = 1200;

// The name of the ANSI code page. Windows: "CP<n>" ("CP936"), or "UTF-8".
// Linux: the iconv name, e.g. "UTF-8" or "GBK": the codeset of
// the calling thread's locale; when that is the plain C locale (ASCII), the
// codeset of the environment's locale (LC_ALL, LC_CTYPE, LANG); when that too
// is ASCII, "UTF-8". Read at every call.
PLATFORM_EXPORT std::string AnsiCodePageName();

// Converts `text` from one code page to the other. Code pages: kCpAcp, kCpUtf8,
// kCpUtf16, or any other Windows number n (936, 1252, ...; on Linux iconv's
// "CP<n>"). Windows converts with MultiByteToWideChar (MB_ERR_INVALID_CHARS)
// and WideCharToMultiByte without best-fit look-alikes. On failure returns false, leaves `*out`
// unchanged and sets
// `*error` to a Windows error code: 1113 when a byte sequence is invalid or
// incomplete in the source or a character has no mapping in the target (never
// dropped or replaced), 87 for an unknown code page or a null pointer.
PLATFORM_EXPORT bool ConvertCodePage(unsigned fromCodePage, unsigned toCodePage,
                                     const std::string& text, std::string* out, long* error);

}  // namespace platform
