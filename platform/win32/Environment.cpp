#include "platform/Environment.h"

#include <stdlib.h>

namespace platform {

// _putenv_s changes the C runtime's copy (getenv) and the process's own
// (GetEnvironmentVariableA, child processes) alike; an empty value removes.
bool SetEnvironmentValue(const char* name, const char* value) {
  return _putenv_s(name, value != nullptr ? value : "") == 0;
}

}  // namespace platform
