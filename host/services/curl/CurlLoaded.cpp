// The binding of Linux builds: the system's shared libcurl, mapped by the first
// lease and unmapped after the last.
#include <string>

#include "host/services/CurlLibrary.h"
#include "host/services/curl/CurlBinding.h"
#include "platform/SharedLibrary.h"

namespace orsahost::curl {
namespace {

// The library's run-time name (its soname), the one the package depends on.
const char kLibrary[] = "libcurl.so.4";

void* gLibrary = nullptr;  // while bound

}  // namespace

std::string Bind() {
  std::string error;
  void* library = platform::OpenSystemLibrary(kLibrary, &error);
  if (library == nullptr) return error;
#define ORSAHOST_CURL_FIND(name)                                                                  \
  name = reinterpret_cast<decltype(name)>(platform::SharedLibrarySymbol(library, "curl_" #name)); \
  if (name == nullptr && error.empty()) error = std::string(kLibrary) + " has no curl_" #name;
  ORSAHOST_CURL_FUNCTIONS(ORSAHOST_CURL_FIND)
#undef ORSAHOST_CURL_FIND
  if (!error.empty()) {
    platform::CloseSharedLibrary(library);
    return error;
  }
  gLibrary = library;
  return error;
}

void Unbind() {
  platform::CloseSharedLibrary(gLibrary);
  gLibrary = nullptr;
}

}  // namespace orsahost::curl
