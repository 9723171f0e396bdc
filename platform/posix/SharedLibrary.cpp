#include "platform/SharedLibrary.h"

#include <dlfcn.h>

namespace platform {

void* OpenSharedLibrary(const std::string& path, std::string* error) {
  // A bare name would make the loader search the system's library path; a
  // component is always named by its file.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  dlerror();
  // RTLD_NODELETE: dlclose gives the library up but leaves its code mapped.
  // A component's worker that did not end within its stop time is abandoned,
  // not killed, and may still be running library code when the host lets go;
  // unmapping that code would crash the host on its way out.
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    const char* reason = dlerror();
    if (error) *error = reason ? reason : "unknown loader error";
  }
  return handle;
}

void* OpenSystemLibrary(const std::string& name, std::string* error) {
  dlerror();
  // RTLD_LAZY: a system library and its own dependencies come from one
  // distribution and agree on their symbols; binding each function at its
  // first call, as an executable's libraries are bound, halves the time a
  // load takes (it happens once per cycle for the HTTP library).
  void* handle = dlopen(name.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    if (error) *error = reason ? reason : "cannot load " + name;
  }
  return handle;
}

void* SharedLibrarySymbol(void* library, const std::string& name) {
  return library ? dlsym(library, name.c_str()) : nullptr;
}

void CloseSharedLibrary(void* library) {
  if (library) dlclose(library);
}

std::string SharedLibraryFileName(const std::string& name) { return "lib" + name + ".so"; }

}  // namespace platform
