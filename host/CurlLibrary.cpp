#include "host/CurlLibrary.h"

#include <dlfcn.h>

#include <mutex>
#include <string>

namespace orsahost::curl {

decltype(&::curl_easy_init) easy_init = nullptr;
decltype(&::curl_easy_setopt) easy_setopt = nullptr;
decltype(&::curl_easy_getinfo) easy_getinfo = nullptr;
decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
decltype(&::curl_easy_strerror) easy_strerror = nullptr;
decltype(&::curl_slist_append) slist_append = nullptr;
decltype(&::curl_slist_free_all) slist_free_all = nullptr;
decltype(&::curl_multi_init) multi_init = nullptr;
decltype(&::curl_multi_cleanup) multi_cleanup = nullptr;
decltype(&::curl_multi_add_handle) multi_add_handle = nullptr;
decltype(&::curl_multi_remove_handle) multi_remove_handle = nullptr;
decltype(&::curl_multi_perform) multi_perform = nullptr;
decltype(&::curl_multi_poll) multi_poll = nullptr;
decltype(&::curl_multi_info_read) multi_info_read = nullptr;
decltype(&::curl_multi_strerror) multi_strerror = nullptr;

namespace {

// The library's run-time name (its soname), the one the package installs.
const char kLibrary[] = "libcurl.so.4";

template <typename Function>
bool Bind(void* library, const char* name, Function& slot, std::string& error) {
  slot = reinterpret_cast<Function>(dlsym(library, name));
  if (slot == nullptr && error.empty()) error = std::string(kLibrary) + " has no " + name;
  return slot != nullptr;
}

std::mutex gMutex;
void* gLibrary = nullptr;  // while gLeases > 0
int gLeases = 0;
decltype(&::curl_global_cleanup) global_cleanup = nullptr;

// With gMutex held and no lease out: maps the library and binds every
// pointer; "" on success, else the reason (and nothing stays mapped).
std::string Load() {
  void* library = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = dlerror();
    return why != nullptr ? why : std::string("cannot load ") + kLibrary;
  }
  std::string error;
  decltype(&::curl_global_init) global_init = nullptr;
  bool bound = Bind(library, "curl_global_init", global_init, error);
  bound &= Bind(library, "curl_global_cleanup", global_cleanup, error);
  bound &= Bind(library, "curl_easy_init", easy_init, error);
  bound &= Bind(library, "curl_easy_setopt", easy_setopt, error);
  bound &= Bind(library, "curl_easy_getinfo", easy_getinfo, error);
  bound &= Bind(library, "curl_easy_cleanup", easy_cleanup, error);
  bound &= Bind(library, "curl_easy_strerror", easy_strerror, error);
  bound &= Bind(library, "curl_slist_append", slist_append, error);
  bound &= Bind(library, "curl_slist_free_all", slist_free_all, error);
  bound &= Bind(library, "curl_multi_init", multi_init, error);
  bound &= Bind(library, "curl_multi_cleanup", multi_cleanup, error);
  bound &= Bind(library, "curl_multi_add_handle", multi_add_handle, error);
  bound &= Bind(library, "curl_multi_remove_handle", multi_remove_handle, error);
  bound &= Bind(library, "curl_multi_perform", multi_perform, error);
  bound &= Bind(library, "curl_multi_poll", multi_poll, error);
  bound &= Bind(library, "curl_multi_info_read", multi_info_read, error);
  bound &= Bind(library, "curl_multi_strerror", multi_strerror, error);
  if (bound) {
    const CURLcode init = global_init(CURL_GLOBAL_DEFAULT);
    if (init == CURLE_OK) {
      gLibrary = library;
      return std::string();
    }
    error = std::string("libcurl set-up failed: ") + easy_strerror(init);
  }
  dlclose(library);
  return error;
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
  dlclose(gLibrary);
  gLibrary = nullptr;
}

bool CurlLease::Loaded(std::string* error) const {
  if (!error_.empty() && error != nullptr) *error = error_;
  return error_.empty();
}

}  // namespace orsahost::curl
