#include "host/SharedLibrary.h"

#include "platform/SharedLibrary.h"

namespace orsahost {

std::unique_ptr<SharedLibrary> SharedLibrary::Open(const std::string& path, std::string* error) {
  void* handle = platform::OpenSharedLibrary(path, error);
  if (handle == nullptr) return nullptr;
  return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle, path));
}

SharedLibrary::~SharedLibrary() { platform::CloseSharedLibrary(handle_); }

void* SharedLibrary::Symbol(const std::string& name) const {
  return platform::SharedLibrarySymbol(handle_, name);
}

}  // namespace orsahost
