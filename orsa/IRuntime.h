#pragma once
#include <boost/shared_ptr.hpp>
#include <string>

#include "orsa/Array.h"
#include "orsa/ILogger.h"
#include "orsa/IOrsaObject.h"

namespace orsa {

typedef Array<IOrsaObjectPtr> OrsaObjectArray;
typedef boost::shared_ptr<OrsaObjectArray> OrsaObjectArrayPtr;

// The host's object registry. `flags` is passed through as the component gives it.
class IRuntimeContext {
 public:
  virtual ~IRuntimeContext() = default;
  // The object registered under `name`, or an empty pointer.
  virtual IOrsaObjectPtr getObject(const std::string& name, int flags) = 0;
  // Objects registered for interface `typeName` whose name matches `namePattern`
  // ("*" or empty match all), in registration order; empty pointer or empty
  // array when there is none.
  virtual OrsaObjectArrayPtr getObjects(const std::string& typeName, const std::string& namePattern,
                                        int flags) = 0;
};

// The runtime the host hands to a component. Owned by the host; outlives the
// component's use of it.
class IRuntime {
 public:
  virtual ~IRuntime() = default;
  // Loads a composite (a sealed manifest naming a library and the services it
  // registers). Throws std::exception when the file is missing, does not open
  // with the passphrase, or its library cannot be loaded.
  virtual IOrsaObjectPtr loadComposite(const std::string& path, const std::string& passphrase) = 0;
  // May return an empty pointer.
  virtual ILogManagerPtr getLogManager() = 0;
  // Starts the services of every composite loaded since the last call.
  virtual bool activateComposites() = 0;
  // May return null.
  virtual IRuntimeContext* getRuntimeContext() = 0;
};

}  // namespace orsa
