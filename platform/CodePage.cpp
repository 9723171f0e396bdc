#include "platform/CodePage.h"

#include "platform/WinError.h"
#include "platform/detail/TextConversion.h"

namespace platform {

bool ConvertCodePage(unsigned fromCodePage, unsigned toCodePage, const std::string& text,
                     std::string* out, long* error) {
  long ignored = 0;
  if (error == nullptr) error = &ignored;
  if (out == nullptr) {
    *error = kErrorInvalidParameter;
    return false;
  }
  try {
    if (text.empty()) {
      out->clear();
      return true;
    }
    std::string result;
    const long rc = detail::ConvertText(fromCodePage, toCodePage, text, &result);
    if (rc != kErrorSuccess) {
      *error = rc;
      return false;
    }
    *out = std::move(result);
    return true;
  } catch (...) {  // allocation: nothing may cross into callers that expect codes
    *error = kErrorNotEnoughMemory;
    return false;
  }
}

}  // namespace platform
