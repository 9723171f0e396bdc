#pragma once
// The library-wide runtime pointer and the service lookup over it.
#include <boost/shared_ptr.hpp>
#include <stdexcept>
#include <string>

#include "orsa/IRuntime.h"

namespace obx {

// The runtime received by the last call of the export. Written once, before the
// worker thread exists; read by every service and logger lookup.
orsa::IRuntime* GetRuntime();
void SetRuntime(orsa::IRuntime* runtime);

// Finds the first object registered for interface T (T::kTypeName).
// Throws std::runtime_error "Null runtime context." when there is no runtime
// context, and "Can't cast service to the specified type, please check the
// config." when the object found is not a T. Empty pointer when none is found.
template <class T>
boost::shared_ptr<T> getService(const char* name = nullptr) {
  orsa::IRuntime* runtime = GetRuntime();
  orsa::IRuntimeContext* context = runtime ? runtime->getRuntimeContext() : nullptr;
  if (context == nullptr) throw std::runtime_error("Null runtime context.");
  orsa::IOrsaObjectPtr object;
  if (name == nullptr || std::string(name).find('*') != std::string::npos) {
    orsa::OrsaObjectArrayPtr objects = context->getObjects(T::kTypeName, name ? name : "", 3);
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

}  // namespace obx
