#include "host/SharedLibrary.h"

#include <dlfcn.h>

namespace orsahost {

std::unique_ptr<SharedLibrary> SharedLibrary::Open(const std::string& path, std::string* error) {
  // A bare name would make the loader search the system's library path; a
  // component is always named by its file.
  std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  dlerror();
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    if (error) *error = reason ? reason : "unknown loader error";
    return nullptr;
  }
  return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle, path));
}

SharedLibrary::~SharedLibrary() { dlclose(handle_); }

void* SharedLibrary::Symbol(const std::string& name) const { return dlsym(handle_, name.c_str()); }

}  // namespace orsahost
