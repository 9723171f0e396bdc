#pragma once
#include <cstdint>

#include "orsa/IOrsaObject.h"

namespace orsa {

// The host-facing part of every object a component creates: the opaque
// context value the host gave at creation.
class OrsaServiceObject : public IOrsaObject {
 public:
  explicit OrsaServiceObject(uintptr_t context) : context_(context) {}
  ~OrsaServiceObject() override = default;
  virtual uintptr_t getContext() const { return context_; }
  virtual void setContext(uintptr_t context) { context_ = context; }

 private:
  uintptr_t context_;
};

}  // namespace orsa
