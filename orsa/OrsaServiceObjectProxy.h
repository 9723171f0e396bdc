#pragma once
#include <cstdint>

#include "orsa/OrsaServiceObject.h"

namespace orsa {

// An object of class T as the host holds it: T first, the service object
// second. T must have a virtual destructor, so that deleting through either
// face destroys the whole object.
template <class T>
class OrsaServiceObjectProxy : public T, public OrsaServiceObject {
 public:
  explicit OrsaServiceObjectProxy(uintptr_t context) : T(), OrsaServiceObject(context) {}
  ~OrsaServiceObjectProxy() override = default;
};

}  // namespace orsa
