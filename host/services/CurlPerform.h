#pragma once
// One libcurl transfer run to its end on the calling thread, cut short at once
// by the thread's quit request: the wait sleeps on curl's sockets and on the
// quit request's descriptor together, so `stop` never waits for a time-out.
#include <curl/curl.h>

#include <functional>

namespace orsahost {

struct CurlOutcome {
  CURLcode code = CURLE_OK;    // the transfer's result when it ran to its end
  CURLMcode multi = CURLM_OK;  // a failure of curl's own machinery
  bool stopped = false;        // the quit request (or `cancel`) ended it
};

// Runs the configured `easy` handle. `cancel`, when set, replaces the calling
// thread's quit request (tests use it) and is polled every 100 ms.
CurlOutcome PerformWatchingStop(CURL* easy, const std::function<bool()>& cancel);

}  // namespace orsahost
