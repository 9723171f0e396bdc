#pragma once
// The runtime the host hands to components: object registry, log manager and
// composites.
#include <boost/shared_ptr.hpp>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/RuntimeContext.h"
#include "orsa/IRuntime.h"

namespace orsahost {

class LoadedComposite;

// Thread-safe. Owns the registry, the log manager reference and every loaded
// composite. Destroying the runtime (or shutdown()) releases the composites'
// objects and unloads their libraries, newest first; the components using the
// runtime must be unloaded before.
class Runtime : public orsa::IRuntime {
 public:
  // `logs` may be empty: getLogManager then answers an empty pointer.
  explicit Runtime(orsa::ILogManagerPtr logs = orsa::ILogManagerPtr());
  ~Runtime() override;
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  RuntimeContext& context() { return context_; }
  void setLogManager(orsa::ILogManagerPtr logs);

  // Reads and opens the sealed manifest at `path` with `passphrase` and loads
  // its library (see host/CompositeManifest.h). Loading the same file again
  // checks it again and answers the composite already loaded. Throws
  // std::runtime_error naming `path` when the file is missing, does not open,
  // holds a bad manifest, or its library or the library's export
  // OrsaExportClass cannot be found. The answer is the composite itself;
  // dropping it changes nothing.
  orsa::IOrsaObjectPtr loadComposite(const std::string& path,
                                     const std::string& passphrase) override;
  orsa::ILogManagerPtr getLogManager() override;
  // Calls the export of every composite loaded since the last call, creates an
  // object of each concrete class it describes and registers it (name: the
  // class name) under the class's interface type names and those of the
  // manifest's services it supports. A composite whose export fails, whose
  // object cannot be created or registered, or that leaves a manifest service
  // unserved is logged and left without any registered object; the answer is
  // then false. Never throws.
  bool activateComposites() override;
  orsa::IRuntimeContext* getRuntimeContext() override { return &context_; }

  // Releases every composite's objects and metadata and unloads its library,
  // newest first. A library whose objects are still referenced from outside
  // the registry stays loaded (unloading it would leave those references
  // pointing at unmapped code); that is logged. Idempotent.
  void shutdown();

  // The native paths of the loaded composites, in load order.
  std::vector<std::string> compositePaths() const;

 private:
  void log(int level, const std::string& message, int line);
  bool activate(LoadedComposite& composite);

  RuntimeContext context_;
  mutable std::mutex mutex_;  // composites_, logs_, nextOwner_
  std::mutex activateMutex_;  // one activation at a time
  orsa::ILogManagerPtr logs_;
  std::vector<boost::shared_ptr<LoadedComposite>> composites_;
  RuntimeContext::Owner nextOwner_ = 1;
};

}  // namespace orsahost
