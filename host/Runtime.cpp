#include "host/Runtime.h"

#include <boost/make_shared.hpp>
#include <stdexcept>

#include "host/CompositeManifest.h"
#include "host/SharedLibrary.h"
#include "orsa/IClassMeta.h"
#include "platform/StateRoot.h"

namespace orsahost {

// One composite file and the library it named.
class LoadedComposite : public orsa::IOrsaObject {
 public:
  std::string path;        // as the caller gave it (messages name it)
  std::string nativePath;  // the file it maps to
  CompositeManifest manifest;
  std::unique_ptr<SharedLibrary> library;
  OrsaExportClassFn exportFn = nullptr;
  orsa::ClassMetaArray* classes = nullptr;  // owned; filled by the export
  RuntimeContext::Owner owner = 0;
  bool activated = false;
  std::vector<orsa::IOrsaObjectPtr> parkedObjects;  // see Runtime::shutdown

  ~LoadedComposite() override {
    // Only reached with objects still registered when shutdown() did not run;
    // the metadata goes before the code that implements it.
    delete classes;
    library.reset();
  }
};

namespace {

const char kChannel[] = "orsa";
const char kSource[] = "Runtime";

}  // namespace

Runtime::Runtime(orsa::ILogManagerPtr logs) : logs_(std::move(logs)) {}

Runtime::~Runtime() { shutdown(); }

void Runtime::setLogManager(orsa::ILogManagerPtr logs) {
  std::lock_guard<std::mutex> lock(mutex_);
  logs_ = std::move(logs);
}

orsa::ILogManagerPtr Runtime::getLogManager() {
  std::lock_guard<std::mutex> lock(mutex_);
  return logs_;
}

void Runtime::log(int level, const std::string& message, int line) {
  orsa::ILogManagerPtr logs = getLogManager();
  if (!logs) return;
  try {
    orsa::LogAt(logs->getLogger(kChannel), level, message, kSource, line);
  } catch (...) {
    // Logging never changes what the runtime answers.
  }
}

orsa::IOrsaObjectPtr Runtime::loadComposite(const std::string& path,
                                            const std::string& passphrase) {
  // Read and check the file every time, even when it is loaded already: the
  // passphrase is the caller's proof that it may load this composite.
  CompositeManifest manifest = ReadComposite(path, passphrase);
  std::string native = platform::NativePath(path);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& c : composites_)
      if (c->nativePath == native) return c;
  }

  std::string libraryPath = ResolveCompositeLibrary(native, manifest);
  std::string error;
  std::unique_ptr<SharedLibrary> library = SharedLibrary::Open(libraryPath, &error);
  if (!library)
    throw std::runtime_error("composite " + path + ": cannot load library " + libraryPath + ": " +
                             error);
  auto exportFn = reinterpret_cast<OrsaExportClassFn>(library->Symbol("OrsaExportClass"));
  if (exportFn == nullptr)
    throw std::runtime_error("composite " + path + ": library " + libraryPath +
                             " has no export OrsaExportClass");

  auto composite = boost::make_shared<LoadedComposite>();
  composite->path = path;
  composite->nativePath = native;
  composite->manifest = manifest;
  composite->library = std::move(library);
  composite->exportFn = exportFn;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Another thread may have loaded the same file meanwhile; keep the first.
    for (const auto& c : composites_)
      if (c->nativePath == native) return c;
    composite->owner = nextOwner_++;
    composites_.push_back(composite);
  }
  log(orsa::kLogInformation, "composite " + path + " loaded: " + libraryPath, __LINE__);
  return composite;
}

bool Runtime::activateComposites() {
  // Activation runs the composites' code, which may call back into the
  // runtime; the list is copied so that no lock is held meanwhile. Activations
  // themselves take turns so that one composite is never activated twice.
  std::lock_guard<std::mutex> turn(activateMutex_);
  std::vector<boost::shared_ptr<LoadedComposite>> pending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& c : composites_)
      if (!c->activated) pending.push_back(c);
  }
  bool ok = true;
  for (const auto& c : pending) {
    c->activated = true;  // a failed composite is not tried again
    ok = activate(*c) && ok;
  }
  return ok;
}

bool Runtime::activate(LoadedComposite& composite) {
  const std::string where = "composite " + composite.path + ": ";
  try {
    orsa::ClassMetaArray* classes = nullptr;
    composite.exportFn(&classes, this);
    if (classes == nullptr) throw std::runtime_error("its export gave no classes");
    composite.classes = classes;

    std::vector<std::string> served;
    for (uint32_t i = 0; i < classes->size(); ++i) {
      orsa::IClassMetaPtr meta = (*classes)[i];
      if (!meta || meta->isAbstract()) continue;
      std::vector<std::string> types;
      orsa::StringArrayPtr supers = meta->getSupers();
      if (supers)
        for (uint32_t s = 0; s < supers->size(); ++s) types.push_back((*supers)[s]);
      for (const std::string& service : composite.manifest.services)
        if (meta->supports(service.c_str())) types.push_back(service);

      const std::string name = meta->getName() ? meta->getName() : "";
      orsa::IOrsaObjectPtr object = meta->createObject(0);
      if (!object) throw std::runtime_error("class " + name + " made no object");
      if (!context_.registerObject(name, types, object, composite.owner))
        throw std::runtime_error("the name \"" + name + "\" is empty or registered already");
      served.insert(served.end(), types.begin(), types.end());
    }
    for (const std::string& service : composite.manifest.services) {
      bool found = false;
      for (const std::string& t : served) found = found || t == service;
      if (!found) throw std::runtime_error("no class serves " + service);
    }
    log(orsa::kLogInformation, where + "activated", __LINE__);
    return true;
  } catch (const std::exception& e) {
    log(orsa::kLogError, where + "activation failed: " + e.what(), __LINE__);
  } catch (...) {
    log(orsa::kLogError, where + "activation failed: unknown exception", __LINE__);
  }
  // Objects made before the failure go; the metadata and the library stay
  // until shutdown, as the objects' release ran through them.
  context_.removeObjectsOf(composite.owner);
  return false;
}

void Runtime::shutdown() {
  std::vector<boost::shared_ptr<LoadedComposite>> composites;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    composites.swap(composites_);
  }
  while (!composites.empty()) {
    boost::shared_ptr<LoadedComposite> c = composites.back();
    composites.pop_back();
    std::vector<orsa::IOrsaObjectPtr> objects = context_.removeObjectsOf(c->owner);
    bool referenced = false;
    for (const auto& o : objects) referenced = referenced || o.use_count() > 1;
    if (referenced) {
      log(orsa::kLogWarning,
          "composite " + c->path + ": objects still in use at shutdown; library left loaded",
          __LINE__);
      // Keep objects, metadata and code alive for the rest of the process.
      c->parkedObjects = std::move(objects);
      static auto* parked = new std::vector<boost::shared_ptr<LoadedComposite>>();
      parked->push_back(c);
      continue;
    }
    objects.clear();
    delete c->classes;
    c->classes = nullptr;
    c->library.reset();
  }
}

std::vector<std::string> Runtime::compositePaths() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  for (const auto& c : composites_) out.push_back(c->nativePath);
  return out;
}

}  // namespace orsahost
