#pragma once
// The host's orsa::net::IHttpClientHold: each hold is a CurlLease
// (host/services/CurlLibrary.h), so libcurl stays mapped while any hold or
// transfer is out and is unmapped after the last. Thread-safe.
#include <memory>
#include <mutex>
#include <vector>

#include "host/services/CurlLibrary.h"
#include "orsa/IHttpClientHold.h"

namespace orsahost {

class CurlHold : public orsa::net::IHttpClientHold {
 public:
  bool hold() override;
  void release() override;

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<curl::CurlLease>> leases_;
};

}  // namespace orsahost
