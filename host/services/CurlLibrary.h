#pragma once
// libcurl as the host calls it: through the function pointers below, and only
// while it holds a CurlLease that loaded.
//
// On Linux libcurl is mapped only while a transfer runs, or a caller holds it
// for a run of transfers (host/services/CurlHold.h), instead of for the life
// of the host. Between two cycles the agent then keeps neither libcurl
// nor most of the libraries it brings along (GnuTLS, Kerberos, LDAP, HTTP/2,
// compression) resident: about 3 MB, against 4 to 10 ms to load them again
// for the next transfer, which matters little for an agent that pauses for
// minutes between cycles. The Windows build links a plain-HTTP libcurl of its
// own instead, and a lease there only runs the global set-up and clean-up.
#include <curl/curl.h>

#include <string>

namespace orsahost::curl {

// Holds libcurl ready: the first lease loads it and runs its global set-up,
// the last one to go runs its global clean-up and unloads it. Thread-safe;
// every curl handle made under a lease must be gone before the lease.
class CurlLease {
 public:
  CurlLease();
  ~CurlLease();
  CurlLease(const CurlLease&) = delete;
  CurlLease& operator=(const CurlLease&) = delete;

  // False when libcurl or one of its functions could not be found (then the
  // pointers below must not be used), with the loader's reason in *error.
  bool Loaded(std::string* error) const;

 private:
  std::string error_;
};

// Every libcurl function the host calls, named without its "curl_" prefix.
// clang-format off
#define ORSAHOST_CURL_FUNCTIONS(X)                                                     \
  X(global_init) X(global_cleanup) X(easy_init) X(easy_setopt) X(easy_getinfo)         \
  X(easy_cleanup) X(easy_strerror) X(slist_append) X(slist_free_all) X(multi_init)     \
  X(multi_cleanup) X(multi_add_handle) X(multi_remove_handle) X(multi_perform)         \
  X(multi_poll) X(multi_info_read) X(multi_strerror)
// clang-format on

#define ORSAHOST_CURL_DECLARE(name) extern decltype(&::curl_##name) name;
ORSAHOST_CURL_FUNCTIONS(ORSAHOST_CURL_DECLARE)
#undef ORSAHOST_CURL_DECLARE

}  // namespace orsahost::curl
