#include "foundation/StringUtil.h"

#include <climits>
#include <cstdint>

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

int AtoI(const std::string& text) {
  size_t i = 0;
  // The C locale's white space.
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<int64_t>(INT_MAX) + 1) value = static_cast<int64_t>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  return static_cast<int>(value);
}

}  // namespace obx
