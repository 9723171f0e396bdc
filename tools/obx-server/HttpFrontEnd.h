#pragma once
// The connection side of obx-server. One thread watches every connection
// (epoll) and reads each request whole, head and body, against a deadline;
// only a complete request goes to one of a few worker threads. A client that
// sends slowly, or not at all, therefore costs a socket and a buffer but never
// a worker, and requests are served in the order they became complete, so
// busy keep-alive clients cannot starve the others.
//
// Bounds (FrontEndLimits): the time from the first byte of a request to its
// last, the time a connection may wait for the first byte of a request, the
// time a reply may make no progress, the requests per connection, the size of
// the head and of the body, the request bytes held across all connections and
// the number of connections. A request that breaks one is answered with a
// short text (400, 408, 411, 413, 431, 503, 505) and the connection is closed.
// Every answer with a status of 400 or more closes the connection, so bytes
// the server did not read are never taken for a request of their own.
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "tools/obx-server/HttpReply.h"
#include "tools/obx-server/HttpRequest.h"

namespace obxserver {

struct FrontEndLimits {
  unsigned workers = 4;
  unsigned maxConnections = 512;
  // From the first byte of a request to its last; also the longest a reply
  // may make no progress while the client does not read.
  std::chrono::milliseconds requestTimeout{10000};
  // How long a connection may wait for the first byte of a request.
  std::chrono::milliseconds idleTimeout{5000};
  unsigned maxRequestsPerConnection = 100;
  size_t maxHeaderBytes = 16384;
  size_t maxBodyBytes = size_t{8} << 20;
  size_t maxBufferedBytes = size_t{256} << 20;
};

// Threads: Start and Stop from one controlling thread. The handler runs on
// the worker threads, several at once; whatever it throws becomes a 500. The
// notice runs on the connection thread for every request refused before a
// handler saw it (`what` is the request line when it was read, else "-").
class HttpFrontEnd {
 public:
  using Handler = std::function<HttpReply(HttpRequest&)>;
  using Notice = std::function<void(const Poco::Net::SocketAddress& client, const std::string& what,
                                    int status)>;

  // Takes over a socket that is already listening.
  HttpFrontEnd(Poco::Net::ServerSocket socket, const FrontEndLimits& limits, Handler handler,
               Notice notice);
  ~HttpFrontEnd();
  HttpFrontEnd(const HttpFrontEnd&) = delete;
  HttpFrontEnd& operator=(const HttpFrontEnd&) = delete;

  // Starts the connection thread and the workers; throws std::runtime_error
  // when the event machinery cannot be set up.
  void Start();
  // Stops accepting, closes every connection, lets running handlers finish
  // and joins all threads. Idempotent.
  void Stop();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace obxserver
