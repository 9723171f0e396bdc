#pragma once
// Finding a host service by its interface, the way every user of the host
// does it.
#include <boost/shared_ptr.hpp>
#include <stdexcept>
#include <string>

#include "orsa/IRuntime.h"

namespace orsa {

// Finds the object registered for interface T (T::kTypeName) in the runtime's
// context: with no name, or a name holding "*", the first object of the
// interface; otherwise the object of that name. Empty pointer when none is
// found. Throws std::runtime_error "Null runtime context." when there is no
// runtime or context, and "Can't cast service to the specified type, please
// check the config." when the object found is not a T.
template <class T>
boost::shared_ptr<T> getService(IRuntime* runtime, const char* name = nullptr) {
  IRuntimeContext* context = runtime ? runtime->getRuntimeContext() : nullptr;
  if (context == nullptr) throw std::runtime_error("Null runtime context.");
  IOrsaObjectPtr object;
  if (name == nullptr || std::string(name).find('*') != std::string::npos) {
    OrsaObjectArrayPtr objects = context->getObjects(T::kTypeName, name ? name : "", 3);
    if (!objects || objects->empty()) return boost::shared_ptr<T>();
    object = (*objects)[0];
  } else {
    object = context->getObject(name, 3);
  }
  if (!object) return boost::shared_ptr<T>();
  boost::shared_ptr<T> service = boost::dynamic_pointer_cast<T>(object);
  if (!service)
    throw std::runtime_error("Can't cast service to the specified type, please check the config.");
  return service;
}

}  // namespace orsa
