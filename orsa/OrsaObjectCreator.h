#pragma once
#include <boost/function.hpp>
#include <cstdint>
#include <utility>

#include "orsa/IOrsaObjectCreator.h"
#include "orsa/OrsaServiceObjectProxy.h"

namespace orsa {

// Creator of class T with optional init and destroy hooks.
template <class T>
class OrsaObjectCreator : public IOrsaObjectCreator {
 public:
  typedef boost::function<void(T*)> Hook;

  explicit OrsaObjectCreator(Hook init = Hook(), Hook destroy = Hook())
      : init_(std::move(init)), destroy_(std::move(destroy)) {}

  // Makes the proxy of T and runs the init hook on it. The returned pointer's
  // release calls destroyObject. An init hook that throws releases the new
  // object (through destroyObject) and the exception reaches the caller.
  IOrsaObjectPtr create(uintptr_t context) override {
    OrsaServiceObjectProxy<T>* object = new OrsaServiceObjectProxy<T>(context);
    // Owned from here on: even if making the counted pointer fails, the
    // releaser runs.
    IOrsaObjectPtr result(static_cast<OrsaServiceObject*>(object), Releaser{this, object});
    if (init_) init_(object);
    return result;
  }

  // Runs the destroy hook (swallowing what it throws) and deletes the object.
  // Null does nothing.
  void destroyObject(T* object) {
    if (object == nullptr) return;
    if (destroy_) {
      try {
        destroy_(object);
      } catch (...) {
        // A failing hook must not keep the object alive or reach the host's
        // release of its pointer.
      }
    }
    delete object;
  }

 private:
  struct Releaser {
    OrsaObjectCreator* creator;
    T* object;
    void operator()(IOrsaObject*) const { creator->destroyObject(object); }
  };

  Hook init_;
  Hook destroy_;
};

}  // namespace orsa
