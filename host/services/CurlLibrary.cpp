#include "host/services/CurlLibrary.h"

#include <mutex>
#include <string>

#include "host/services/curl/CurlBinding.h"

namespace orsahost::curl {

#define ORSAHOST_CURL_DEFINE(name) decltype(&::curl_##name) name = nullptr;
ORSAHOST_CURL_FUNCTIONS(ORSAHOST_CURL_DEFINE)
#undef ORSAHOST_CURL_DEFINE

namespace {

std::mutex gMutex;
int gLeases = 0;

// With gMutex held and no lease out: "" when libcurl is bound and set up,
// else the reason (and nothing stays loaded).
std::string Load() {
  const std::string error = Bind();
  if (!error.empty()) return error;
  const CURLcode init = global_init(CURL_GLOBAL_DEFAULT);
  if (init == CURLE_OK) return std::string();
  const std::string reason = std::string("libcurl set-up failed: ") + easy_strerror(init);
  Unbind();
  return reason;
}

}  // namespace

CurlLease::CurlLease() {
  std::lock_guard<std::mutex> lock(gMutex);
  if (gLeases == 0) error_ = Load();
  if (error_.empty()) ++gLeases;
}

CurlLease::~CurlLease() {
  if (!error_.empty()) return;
  std::lock_guard<std::mutex> lock(gMutex);
  if (--gLeases > 0) return;
  global_cleanup();
  Unbind();
}

bool CurlLease::Loaded(std::string* error) const {
  if (!error_.empty() && error != nullptr) *error = error_;
  return error_.empty();
}

}  // namespace orsahost::curl
