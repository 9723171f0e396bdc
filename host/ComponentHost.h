#pragma once
// Loads one component library, creates its console object through the class
// metadata the library exports, starts and stops it, and unloads it again.
#include <memory>
#include <stdexcept>
#include <string>

#include "host/SharedLibrary.h"
#include "orsa/IClassMeta.h"
#include "orsa/IConsoleExt.h"

namespace orsahost {

class Runtime;

// Why a component could not be loaded.
class ComponentError : public std::runtime_error {
 public:
  enum Kind { kLibrary, kExport, kNoConsole, kCreate };
  ComponentError(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

// Used from one thread (the daemon's main thread). The runtime must outlive
// the object. Order of teardown, which unload() keeps: stop the console,
// release it, release the metadata array (the creator that releases the
// console lives in it), give up the library (see host/SharedLibrary.h).
class ComponentHost {
 public:
  explicit ComponentHost(Runtime& runtime) : runtime_(runtime) {}
  ~ComponentHost();
  ComponentHost(const ComponentHost&) = delete;
  ComponentHost& operator=(const ComponentHost&) = delete;

  // Loads the library at `path`, calls its export OrsaExportClass with the
  // runtime and creates the object of the first concrete class that supports
  // orsa::IConsoleExt (its initialize runs inside creation). Throws
  // ComponentError saying what failed and naming `path`; nothing stays loaded
  // then. Exceptions of the component's own code arrive as kCreate.
  void load(const std::string& path);

  // The console's start; false when nothing is loaded. Exceptions of the
  // component pass through.
  bool start();
  // Stops the console (when started), releases it and its metadata and
  // unloads the library. Exceptions of the component's stop are swallowed:
  // teardown goes on regardless. Idempotent.
  void unload();

  bool loaded() const { return library_ != nullptr; }
  // The class name of the console object (as the metadata spells it).
  const std::string& consoleClass() const { return consoleClass_; }

 private:
  Runtime& runtime_;
  std::unique_ptr<SharedLibrary> library_;
  orsa::ClassMetaArray* classes_ = nullptr;  // owned
  orsa::IOrsaObjectPtr object_;
  boost::shared_ptr<orsa::IConsoleExt> console_;
  std::string consoleClass_;
  bool started_ = false;
};

}  // namespace orsahost
