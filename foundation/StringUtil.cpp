#include "foundation/StringUtil.h"

namespace obx {

std::vector<std::string> SplitString(const std::string& text, const std::string& delimiters) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = delimiters.empty() ? std::string::npos : text.find_first_of(delimiters, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

std::string GetFileNameFromUrl(const std::string& url) {
  std::string name = url;
  size_t slash = name.rfind('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  size_t backslash = name.rfind('\\');
  if (backslash != std::string::npos) name.erase(0, backslash + 1);
  return name;
}

}  // namespace obx
