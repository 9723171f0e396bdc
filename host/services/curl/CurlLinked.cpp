// The binding of the Windows build: a libcurl linked into the program, so
// binding cannot fail and there is nothing to unload.
#include <string>

#include "host/services/CurlLibrary.h"
#include "host/services/curl/CurlBinding.h"

namespace orsahost::curl {

std::string Bind() {
#define ORSAHOST_CURL_LINK(name) name = &::curl_##name;
  ORSAHOST_CURL_FUNCTIONS(ORSAHOST_CURL_LINK)
#undef ORSAHOST_CURL_LINK
  return std::string();
}

void Unbind() {}

}  // namespace orsahost::curl
