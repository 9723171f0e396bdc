#include "foundation/RootException.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace obx {

CRootException::CRootException(long code) : CRootException(code, "", 0) {}

CRootException::CRootException(long code, const char* file, int line)
    : code_(code), message_("Unknow error"), file_(file ? file : ""), line_(line) {}

CRootException::CRootException(long code, const std::string& message, const char* file, int line)
    : code_(code), message_(message), file_(file ? file : ""), line_(line) {}

CRootException::CRootException(long code, const char* file, int line, const char* format, ...)
    : code_(code), file_(file ? file : ""), line_(line) {
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  int needed = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (needed > 0) {
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, again);
    message_.assign(buffer.data(), static_cast<size_t>(needed));
  }
  va_end(again);
}

}  // namespace obx
