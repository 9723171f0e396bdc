#include "tools/reg/RegTreeWalker.h"

namespace orsareg {

namespace {

// A key whose subkeys are still to be visited. Its handle stays open only
// while some of them are left, so a long chain holds one handle at a time.
struct Pending {
  platform::RegKey key = nullptr;
  std::vector<std::string> subkeys;
  size_t next = 0;
};

long ReadKey(platform::RegKey key, RegKeyContents* contents) {
  contents->path = platform::RegKeyPath(key);
  long rc = platform::RegEnumValues(key, &contents->values);
  if (rc == platform::kErrorSuccess) rc = platform::RegEnumSubKeys(key, &contents->subkeys);
  return rc;
}

}  // namespace

long RegTreeWalker::Walk(platform::RegRoot root, const std::string& subkey, bool recursive,
                         const std::function<void(const RegKeyContents&)>& visit,
                         std::string* failedPath) {
  platform::RegKey first = nullptr;
  long rc = platform::OpenRegKey(root, subkey, platform::kKeyRead, &first);
  if (rc != platform::kErrorSuccess) {
    *failedPath = subkey;
    return rc;
  }
  std::vector<Pending> stack;
  auto closeAll = [&stack] {
    for (Pending& pending : stack) platform::CloseRegKey(pending.key);
  };
  platform::RegKey key = first;
  while (key != nullptr) {
    RegKeyContents contents;
    rc = ReadKey(key, &contents);
    if (rc != platform::kErrorSuccess) {
      *failedPath = contents.path;
      platform::CloseRegKey(key);
      closeAll();
      return rc;
    }
    visit(contents);
    if (recursive && !contents.subkeys.empty()) {
      stack.push_back(Pending{key, std::move(contents.subkeys), 0});
    } else {
      platform::CloseRegKey(key);
    }
    key = nullptr;
    while (key == nullptr && !stack.empty()) {
      Pending& top = stack.back();
      const std::string name = top.subkeys[top.next++];
      rc = platform::OpenRegKey(top.key, name, platform::kKeyRead, &key);
      // Deleted meanwhile: nothing left to show of it.
      bool gone = rc == platform::kErrorFileNotFound || rc == platform::kErrorKeyDeleted;
      if (rc != platform::kErrorSuccess && !gone) {
        std::string parent = platform::RegKeyPath(top.key);
        *failedPath = parent + (parent.empty() ? "" : "\\") + name;
        closeAll();
        return rc;
      }
      if (top.next == top.subkeys.size()) {
        platform::CloseRegKey(top.key);
        stack.pop_back();
      }
      if (gone) key = nullptr;
    }
  }
  return platform::kErrorSuccess;
}

}  // namespace orsareg
