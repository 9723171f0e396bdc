#pragma once
#include <cstdint>

#include "orsa/IOrsaObject.h"

namespace orsa {

// Makes the objects of one class for its class metadata.
class IOrsaObjectCreator {
 public:
  virtual ~IOrsaObjectCreator() = default;
  // A new object holding the opaque `context`; its release calls back into
  // this creator, which must therefore outlive it.
  virtual IOrsaObjectPtr create(uintptr_t context) = 0;
};

}  // namespace orsa
