#include "host/services/CurlHold.h"

namespace orsahost {

bool CurlHold::hold() {
  auto lease = std::make_unique<curl::CurlLease>();
  if (!lease->Loaded(nullptr)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  leases_.push_back(std::move(lease));
  return true;
}

void CurlHold::release() {
  std::unique_ptr<curl::CurlLease> last;
  std::lock_guard<std::mutex> lock(mutex_);
  if (leases_.empty()) return;
  last = std::move(leases_.back());
  leases_.pop_back();
}

}  // namespace orsahost
