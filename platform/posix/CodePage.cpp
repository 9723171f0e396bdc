#include "platform/CodePage.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/WinError.h"
#include "platform/detail/TextConversion.h"

namespace platform {
namespace {

bool IsAscii(const char* codeset) {
  return codeset == nullptr || *codeset == '\0' || std::strcmp(codeset, "ANSI_X3.4-1968") == 0 ||
         std::strcmp(codeset, "ASCII") == 0 || std::strcmp(codeset, "US-ASCII") == 0;
}

std::string NameOf(unsigned codePage) {
  switch (codePage) {
    case kCpAcp:
      return AnsiCodePageName();
    case kCpUtf8:
      return "UTF-8";
    case kCpUtf16:
      return "UTF-16LE";
    default:
      return "CP" + std::to_string(codePage);
  }
}

class Converter {
 public:
  Converter(const std::string& to, const std::string& from)
      : handle_(iconv_open(to.c_str(), from.c_str())) {}
  ~Converter() {
    if (ok()) iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return handle_; }

 private:
  iconv_t handle_;
};

}  // namespace

std::string AnsiCodePageName() {
  // The thread's locale first: a program that chose a locale with setlocale
  // gets the code page of that choice.
  // nl_langinfo_l may not be given LC_GLOBAL_LOCALE.
  locale_t current = uselocale(static_cast<locale_t>(0));
  std::string codeset =
      current == LC_GLOBAL_LOCALE ? nl_langinfo(CODESET) : nl_langinfo_l(CODESET, current);
  if (!IsAscii(codeset.c_str())) return codeset;
  // A program that never called setlocale runs in the C locale; the system
  // code page is then the one its environment names.
  locale_t environment = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  std::string name;
  if (environment != static_cast<locale_t>(0)) {
    const char* envCodeset = nl_langinfo_l(CODESET, environment);
    if (!IsAscii(envCodeset)) name = envCodeset;
    freelocale(environment);
  }
  // Windows has no 7-bit ANSI code page; plain ASCII would refuse every
  // non-ASCII name, so the usual Linux text encoding stands in.
  return name.empty() ? std::string("UTF-8") : name;
}

long detail::ConvertText(unsigned fromCodePage, unsigned toCodePage, const std::string& text,
                         std::string* out) {
  Converter converter(NameOf(toCodePage), NameOf(fromCodePage));
  if (!converter.ok()) return kErrorInvalidParameter;
  std::vector<char> input(text.begin(), text.end());
  char* in = input.data();
  size_t inLeft = input.size();
  std::string result;
  std::vector<char> buffer(text.size() * 4 + 16);
  while (inLeft > 0) {
    char* o = buffer.data();
    size_t oLeft = buffer.size();
    size_t rc = iconv(converter.get(), &in, &inLeft, &o, &oLeft);
    result.append(buffer.data(), buffer.size() - oLeft);
    if (rc == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ: invalid input or no mapping; EINVAL: incomplete sequence at the end.
      return (errno == EILSEQ || errno == EINVAL) ? kErrorNoUnicodeTranslation
                                                  : kErrorInvalidParameter;
    }
    // Some iconv implementations count irreversible conversions (a character
    // replaced by an approximation) in rc; such a text lost information.
    if (rc != 0) return kErrorNoUnicodeTranslation;
  }
  // Flush any shift state of stateful encodings.
  char* o = buffer.data();
  size_t oLeft = buffer.size();
  if (iconv(converter.get(), nullptr, nullptr, &o, &oLeft) == static_cast<size_t>(-1))
    return kErrorNoUnicodeTranslation;
  result.append(buffer.data(), buffer.size() - oLeft);
  *out = std::move(result);
  return kErrorSuccess;
}

}  // namespace platform
