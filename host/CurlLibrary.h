#pragma once
// libcurl, mapped only while a transfer runs instead of for the life of the
// host. Between two cycles the agent then keeps neither libcurl nor most of
// the libraries it brings along (GnuTLS, Kerberos, LDAP, HTTP/2, compression)
// resident: about 3 MB, against 4 to 10 ms to load them again for the next
// transfer, which matters little for an agent that pauses for minutes
// between cycles.
//
// The host calls libcurl only through the pointers below, and only while it
// holds a CurlLease that loaded.
#include <curl/curl.h>

#include <string>

namespace orsahost::curl {

// Holds libcurl loaded: the first lease loads it and runs its global set-up,
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

extern decltype(&::curl_easy_init) easy_init;
extern decltype(&::curl_easy_setopt) easy_setopt;
extern decltype(&::curl_easy_getinfo) easy_getinfo;
extern decltype(&::curl_easy_cleanup) easy_cleanup;
extern decltype(&::curl_easy_strerror) easy_strerror;
extern decltype(&::curl_slist_append) slist_append;
extern decltype(&::curl_slist_free_all) slist_free_all;
extern decltype(&::curl_multi_init) multi_init;
extern decltype(&::curl_multi_cleanup) multi_cleanup;
extern decltype(&::curl_multi_add_handle) multi_add_handle;
extern decltype(&::curl_multi_remove_handle) multi_remove_handle;
extern decltype(&::curl_multi_perform) multi_perform;
extern decltype(&::curl_multi_poll) multi_poll;
extern decltype(&::curl_multi_info_read) multi_info_read;
extern decltype(&::curl_multi_strerror) multi_strerror;

}  // namespace orsahost::curl
