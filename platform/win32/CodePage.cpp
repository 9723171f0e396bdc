#include "platform/CodePage.h"

#include <string>

#include "platform/WinError.h"
#include "platform/detail/TextConversion.h"
#include "platform/win32/Windows.h"

namespace platform {
namespace {

UINT Resolve(unsigned codePage) { return codePage == kCpAcp ? ::GetACP() : codePage; }

// Code pages whose conversion from UTF-16 takes neither flags nor the
// "default character used" report.
bool IsUnicodeLike(UINT codePage) {
  return codePage == CP_UTF7 || codePage == CP_UTF8 || codePage == 54936 ||
         (codePage >= 50220 && codePage <= 50229) || codePage == 42;
}

bool IsSurrogateWellFormed(const std::wstring& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

long ToWide(UINT codePage, const std::string& text, std::wstring* wide) {
  if (codePage == kCpUtf16) {
    if (text.size() % 2 != 0) return kErrorNoUnicodeTranslation;
    wide->resize(text.size() / 2);
    for (size_t i = 0; i < wide->size(); ++i)
      (*wide)[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[2 * i]) |
                                        (static_cast<unsigned char>(text[2 * i + 1]) << 8));
    return IsSurrogateWellFormed(*wide) ? kErrorSuccess : kErrorNoUnicodeTranslation;
  }
  // Invalid input is an error, never a replacement character.
  const int size = static_cast<int>(text.size());
  const int needed =
      ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (needed <= 0) return win32::LastError();
  wide->resize(static_cast<size_t>(needed));
  if (::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, &(*wide)[0],
                            needed) != needed)
    return win32::LastError();
  // Older systems let a lone surrogate through from UTF-8.
  return IsSurrogateWellFormed(*wide) ? kErrorSuccess : kErrorNoUnicodeTranslation;
}

long FromWide(UINT codePage, const std::wstring& wide, std::string* out) {
  if (codePage == kCpUtf16) {
    out->resize(wide.size() * 2);
    for (size_t i = 0; i < wide.size(); ++i) {
      (*out)[2 * i] = static_cast<char>(wide[i] & 0xFF);
      (*out)[2 * i + 1] = static_cast<char>((wide[i] >> 8) & 0xFF);
    }
    return kErrorSuccess;
  }
  const int size = static_cast<int>(wide.size());
  const bool unicode = IsUnicodeLike(codePage);
  // A character the code page lacks must fail, not turn into "?" or a look-alike.
  const DWORD flags = unicode ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* reportDefault = unicode ? nullptr : &usedDefault;
  const int needed =
      ::WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, reportDefault);
  if (needed <= 0) return win32::LastError();
  if (usedDefault) return kErrorNoUnicodeTranslation;
  std::string result(static_cast<size_t>(needed), '\0');
  if (::WideCharToMultiByte(codePage, flags, wide.data(), size, &result[0], needed, nullptr,
                            reportDefault) != needed)
    return win32::LastError();
  if (usedDefault) return kErrorNoUnicodeTranslation;
  *out = std::move(result);
  return kErrorSuccess;
}

}  // namespace

std::string AnsiCodePageName() {
  const UINT acp = ::GetACP();
  return acp == CP_UTF8 ? std::string("UTF-8") : "CP" + std::to_string(acp);
}

long detail::ConvertText(unsigned fromCodePage, unsigned toCodePage, const std::string& text,
                         std::string* out) {
  const UINT from = Resolve(fromCodePage);
  const UINT to = Resolve(toCodePage);
  if ((from != kCpUtf16 && !::IsValidCodePage(from)) || (to != kCpUtf16 && !::IsValidCodePage(to)))
    return kErrorInvalidParameter;
  std::wstring wide;
  long rc = ToWide(from, text, &wide);
  if (rc == kErrorSuccess) rc = FromWide(to, wide, out);
  return rc;
}

}  // namespace platform
