#pragma once
// One hold of the host's HTTP client (orsa/IHttpClientHold.h) for the life of
// the object: the worker loop keeps one for each cycle's steps, so that the
// cycle's server calls and transfers find libcurl mapped, and gives it back
// before the pause, so that the agent at rest keeps nothing mapped.
#include <boost/shared_ptr.hpp>

#include "orsa/IHttpClientHold.h"

namespace obx {

class HttpClientLease {
 public:
  // Looks the service up and holds it. A host without the service, or a
  // failing lookup, leaves nothing held: each call then readies the client on
  // its own. Never throws.
  HttpClientLease();
  ~HttpClientLease();
  HttpClientLease(const HttpClientLease&) = delete;
  HttpClientLease& operator=(const HttpClientLease&) = delete;

 private:
  boost::shared_ptr<orsa::net::IHttpClientHold> held_;  // empty when nothing is held
};

}  // namespace obx
