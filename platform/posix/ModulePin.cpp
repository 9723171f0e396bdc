#include "platform/detail/ModulePin.h"

#include <dlfcn.h>

namespace platform {

void PinModuleOf(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return;
  void* handle = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  if (handle != nullptr) dlclose(handle);  // the no-delete mark stays
}

}  // namespace platform
