#include "tools/common/InputFile.h"

#include <filesystem>
#include <system_error>

#include "platform/File.h"
#include "platform/StateRoot.h"
#include "platform/WinError.h"

namespace obxtools {

std::string ReadInputFile(const std::string& path, std::string* content) {
  const long error = platform::ReadFileToString(path, content);
  if (error == platform::kErrorSuccess) return std::string();
  // A folder opens as "access denied" on Windows and fails its first read on
  // Linux; neither says what the user did.
  std::error_code ignored;
  if (std::filesystem::is_directory(platform::NativePath(path), ignored)) return "is a directory";
  return platform::ErrorText(error);
}

}  // namespace obxtools
