#pragma once
// The foundation exception: an error code (0 or a Windows error code), a
// message, and the source file and line that raised it. Thrown by the digest,
// the file reader and the text conversions.
#include <exception>
#include <string>

#include "platform/Export.h"

namespace obx {

class CRootException : public std::exception {
 public:
  // A code without text: the message is "Unknow error".
  explicit CRootException(long code = 0);
  CRootException(long code, const char* file, int line);
  // CRootException(code, "text") carries "text" as its message.
  CRootException(long code, const std::string& message, const char* file = "", int line = 0);
  // Message formatted with printf rules; the format must come from the
  // program, never from input.
  CRootException(long code, const char* file, int line, const char* format, ...)
      PLATFORM_PRINTF(5, 6);

  long Code() const noexcept { return code_; }
  const std::string& Message() const noexcept { return message_; }
  const std::string& File() const noexcept { return file_; }
  int Line() const noexcept { return line_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  long code_;
  std::string message_;
  std::string file_;
  int line_;
};

}  // namespace obx

// OBX_THROW_ROOT(code, "Could not open file: %s", path.c_str());
#define OBX_THROW_ROOT(code, ...) \
  throw ::obx::CRootException((code), __FILE__, __LINE__, __VA_ARGS__)
