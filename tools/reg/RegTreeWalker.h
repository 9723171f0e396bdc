#pragma once
// Visits a registry key and everything below it without recursion, so a tree
// of any depth (a registry file may hold keys deeper than the limit new keys
// obey) needs neither a deep stack nor repeated lookups: each key is opened
// below its parent's open handle, one lookup per key.
#include <functional>
#include <string>
#include <vector>

#include "platform/Registry.h"

namespace orsareg {

// What a visit sees of one key.
struct RegKeyContents {
  std::string path;  // stored names joined by "\" ("" for the hive itself)
  std::vector<platform::RegValue> values;
  std::vector<std::string> subkeys;  // direct subkey names in order
};

class RegTreeWalker {
 public:
  // Calls `visit` for the key at `subkey` and, with `recursive`, for every key
  // below it: depth first, a key before its subkeys, subkeys in name order.
  // kErrorSuccess when all went well; else the code of the failed call, with
  // `failedPath` naming the key (as the caller wrote it when the first key does
  // not open). A key below the first that another process deletes during the
  // walk is skipped.
  static long Walk(platform::RegRoot root, const std::string& subkey, bool recursive,
                   const std::function<void(const RegKeyContents&)>& visit,
                   std::string* failedPath);
};

}  // namespace orsareg
