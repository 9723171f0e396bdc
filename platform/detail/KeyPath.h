#pragma once
// Registry key paths as both registries take them apart.
#include <string>
#include <vector>

namespace platform {
namespace detail {

// The names of a key path, "\" between them; empty names (doubled, leading or
// trailing separators) are dropped.
inline std::vector<std::string> SplitKeyPath(const std::string& subkey) {
  std::vector<std::string> names;
  std::string current;
  for (char c : subkey) {
    if (c == '\\') {
      if (!current.empty()) names.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) names.push_back(current);
  return names;
}

}  // namespace detail
}  // namespace platform
