#include "platform/detail/ModulePin.h"

#include "platform/win32/Windows.h"

namespace platform {

void PinModuleOf(const void* address) {
  HMODULE module = nullptr;
  // A pinned module stays loaded until the process ends, whatever FreeLibrary
  // calls come later; the handle needs no release.
  ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       static_cast<LPCSTR>(address), &module);
}

}  // namespace platform
