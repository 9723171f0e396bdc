#pragma once
// What the registry's calls run their work in: an exception that escapes it
// (allocation failure, a database error thrown deep down) becomes an error
// code, since nothing may cross into callers that expect Windows codes.
#include <new>

#include "platform/WinError.h"

namespace platform {
namespace detail {

template <class F>
long Guarded(F body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  } catch (...) {
    return kErrorRegistryIo;
  }
}

}  // namespace detail
}  // namespace platform
