#pragma once
// The library-wide runtime pointer and the service lookup over it.
#include <boost/shared_ptr.hpp>

#include "orsa/IRuntime.h"
#include "orsa/ServiceLookup.h"

namespace obx {

// The runtime received by the last call of the export. Written once, before the
// worker thread exists; read by every service and logger lookup.
orsa::IRuntime* GetRuntime();
void SetRuntime(orsa::IRuntime* runtime);

// The host's lookup (orsa/ServiceLookup.h) over the library's runtime.
template <class T>
boost::shared_ptr<T> getService(const char* name = nullptr) {
  return orsa::getService<T>(GetRuntime(), name);
}

}  // namespace obx
