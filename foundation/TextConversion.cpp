#include "foundation/TextConversion.h"

#include <cstring>

#include "foundation/RootException.h"
#include "platform/CodePage.h"

namespace obx {
namespace {

std::string Convert(unsigned from, unsigned to, const std::string& text) {
  size_t length = std::strlen(text.c_str());
  if (length == 0) return std::string();
  std::string wide;
  long error = 0;
  if (!platform::ConvertCodePage(from, platform::kCpUtf16, text.substr(0, length), &wide, &error))
    throw CRootException(error, "MultiByteToWideChar", __FILE__, __LINE__);
  std::string result;
  error = 0;
  if (!platform::ConvertCodePage(platform::kCpUtf16, to, wide, &result, &error))
    throw CRootException(error, "WideCharToMultiByte", __FILE__, __LINE__);
  return result;
}

}  // namespace

std::string AnsiToUtf8(const std::string& text) {
  return Convert(platform::kCpAcp, platform::kCpUtf8, text);
}

std::string Utf8ToAnsi(const std::string& text) {
  return Convert(platform::kCpUtf8, platform::kCpAcp, text);
}

}  // namespace obx
