#pragma once
// libcurl, loaded at the first transfer instead of with the host. The idle
// agent then keeps neither libcurl nor the libraries it brings along (TLS,
// HTTP/2, compression, name and identity services) mapped: they cost about
// 3 MB resident although most cycles transfer nothing between two pauses.
//
// The host calls libcurl only through the pointers below, which are set once,
// together, by LoadCurl(); code that uses them runs after a LoadCurl() that
// succeeded.
#include <curl/curl.h>

#include <string>

namespace orsahost::curl {

// Loads libcurl and runs its global set-up, once per process; later calls
// answer what the first one found. False (the loader's reason in *error) when
// the library or one of its functions is missing: every transfer then fails
// with that reason. Thread-safe.
bool LoadCurl(std::string* error);

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
