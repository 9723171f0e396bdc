#include <strings.h>

#include "platform/Registry.h"

namespace platform {

bool ParseRegRoot(const std::string& name, RegRoot* root) {
  const char* n = name.c_str();
  if (strcasecmp(n, "HKLM") == 0 || strcasecmp(n, "HKEY_LOCAL_MACHINE") == 0) {
    *root = RegRoot::kLocalMachine;
    return true;
  }
  if (strcasecmp(n, "HKCU") == 0 || strcasecmp(n, "HKEY_CURRENT_USER") == 0) {
    *root = RegRoot::kCurrentUser;
    return true;
  }
  return false;
}

const char* RegRootName(RegRoot root) {
  return root == RegRoot::kLocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

}  // namespace platform
