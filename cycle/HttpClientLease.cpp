#include "cycle/HttpClientLease.h"

#include "foundation/Runtime.h"

namespace obx {

HttpClientLease::HttpClientLease() {
  try {
    boost::shared_ptr<orsa::net::IHttpClientHold> service =
        getService<orsa::net::IHttpClientHold>();
    if (service && service->hold()) held_ = service;
  } catch (...) {
    // Without the lookup the calls ready the client themselves.
  }
}

HttpClientLease::~HttpClientLease() {
  if (!held_) return;
  try {
    held_->release();
  } catch (...) {
    // A host service that throws must not take the worker down.
  }
}

}  // namespace obx
