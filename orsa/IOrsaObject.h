#pragma once
#include <boost/shared_ptr.hpp>

namespace orsa {

// Every object the host keeps in its registry. The host finds services by the
// interface type names an object was registered with and casts to the interface.
class IOrsaObject {
 public:
  virtual ~IOrsaObject() = default;
};

typedef boost::shared_ptr<IOrsaObject> IOrsaObjectPtr;

}  // namespace orsa
