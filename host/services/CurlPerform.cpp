#include "host/services/CurlPerform.h"

#include <memory>
#include <type_traits>

#include "host/services/CurlLibrary.h"
#include "platform/StopToken.h"

namespace orsahost {

namespace {

struct MultiDeleter {
  void operator()(CURLM* m) const { curl::multi_cleanup(m); }
};

// curl waits on sockets. A wait handle that is a descriptor can join that
// wait; one that is not (an event) cannot, and the quit request is polled.
template <class Handle>
curl_socket_t AsCurlDescriptor(Handle handle) {
  if constexpr (std::is_integral<Handle>::value) {
    return handle == platform::kNoWaitHandle ? CURL_SOCKET_BAD : static_cast<curl_socket_t>(handle);
  } else {
    return CURL_SOCKET_BAD;
  }
}

}  // namespace

CurlOutcome PerformWatchingStop(CURL* easy, const std::function<bool()>& cancel) {
  CurlOutcome outcome;
  std::unique_ptr<CURLM, MultiDeleter> multi(curl::multi_init());
  if (!multi) {
    outcome.multi = CURLM_OUT_OF_MEMORY;
    return outcome;
  }
  // The quit request of the calling thread, read here: this runs on the
  // worker's thread, which is not the one that made the service.
  const platform::StopToken token = platform::CurrentStopToken();
  const curl_socket_t stopFd = cancel ? CURL_SOCKET_BAD : AsCurlDescriptor(token.WaitEvent());
  const bool watchStop = stopFd != CURL_SOCKET_BAD;
  auto cancelled = [&] { return cancel ? cancel() : token.StopRequested(); };

  curl::multi_add_handle(multi.get(), easy);
  int running = 1;
  while (running > 0) {
    outcome.multi = curl::multi_perform(multi.get(), &running);
    if (outcome.multi != CURLM_OK || running == 0) break;
    if ((outcome.stopped = cancelled())) break;
    curl_waitfd extra{stopFd, CURL_WAIT_POLLIN, 0};
    // The stop descriptor wakes the wait at once; otherwise the quit request
    // or a custom cancel test is polled.
    outcome.multi = curl::multi_poll(multi.get(), watchStop ? &extra : nullptr, watchStop ? 1 : 0,
                                     watchStop ? 1000 : 100, nullptr);
    if (outcome.multi != CURLM_OK) break;
    if ((outcome.stopped = cancelled())) break;
  }
  if (!outcome.stopped && outcome.multi == CURLM_OK) {
    int left = 0;
    while (CURLMsg* msg = curl::multi_info_read(multi.get(), &left)) {
      if (msg->msg == CURLMSG_DONE) outcome.code = msg->data.result;
    }
  }
  curl::multi_remove_handle(multi.get(), easy);
  return outcome;
}

}  // namespace orsahost
