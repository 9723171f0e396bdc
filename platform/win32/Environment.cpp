#include "platform/Environment.h"

#include <stdlib.h>

#include <string>

namespace platform {

// _putenv changes the C runtime's copy (getenv) and the process's own
// (GetEnvironmentVariableA, child processes) alike; "NAME=" removes. The
// msvcrt.dll of Windows 2000 and XP has no _putenv_s.
bool SetEnvironmentValue(const char* name, const char* value) {
  if (name == nullptr || *name == '\0') return false;
  try {
    const std::string assignment = std::string(name) + "=" + (value != nullptr ? value : "");
    return _putenv(assignment.c_str()) == 0;
  } catch (...) {
    return false;
  }
}

}  // namespace platform
