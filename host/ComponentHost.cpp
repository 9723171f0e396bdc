#include "host/ComponentHost.h"

#include "host/Runtime.h"

namespace orsahost {

ComponentHost::~ComponentHost() { unload(); }

void ComponentHost::load(const std::string& path) {
  unload();
  std::string error;
  std::unique_ptr<SharedLibrary> library = SharedLibrary::Open(path, &error);
  if (!library)
    throw ComponentError(ComponentError::kLibrary, "cannot load component " + path + ": " + error);
  auto exportFn = reinterpret_cast<OrsaExportClassFn>(library->Symbol("OrsaExportClass"));
  if (exportFn == nullptr)
    throw ComponentError(ComponentError::kExport,
                         "component " + path + " has no export OrsaExportClass");

  orsa::ClassMetaArray* classes = nullptr;
  try {
    exportFn(&classes, &runtime_);
    if (classes == nullptr)
      throw ComponentError(ComponentError::kNoConsole,
                           "component " + path + ": its export gave no classes");
    for (uint32_t i = 0; i < classes->size() && !console_; ++i) {
      orsa::IClassMetaPtr meta = (*classes)[i];
      if (!meta || meta->isAbstract() || !meta->supports(orsa::IConsoleExt::kTypeName)) continue;
      orsa::IOrsaObjectPtr object = meta->createObject(0);
      boost::shared_ptr<orsa::IConsoleExt> console =
          boost::dynamic_pointer_cast<orsa::IConsoleExt>(object);
      const std::string name = meta->getName() ? meta->getName() : "";
      if (!console)
        throw ComponentError(ComponentError::kCreate,
                             "component " + path + ": class " + name + " made no console object");
      consoleClass_ = name;
      object_ = object;
      console_ = console;
    }
    if (!console_)
      throw ComponentError(
          ComponentError::kNoConsole,
          "component " + path + " has no class supporting " + orsa::IConsoleExt::kTypeName);
  } catch (...) {
    console_.reset();
    object_.reset();
    delete classes;
    std::exception_ptr failure = std::current_exception();
    try {
      std::rethrow_exception(failure);
    } catch (const ComponentError&) {
      throw;
    } catch (const std::exception& e) {
      throw ComponentError(ComponentError::kCreate, "component " + path + ": " + e.what());
    } catch (...) {
      throw ComponentError(ComponentError::kCreate, "component " + path + ": unknown exception");
    }
  }
  classes_ = classes;
  library_ = std::move(library);
}

bool ComponentHost::start() {
  if (!console_) return false;
  started_ = true;  // a start that throws half-way still needs its stop
  return console_->start();
}

void ComponentHost::unload() {
  if (console_ && started_) {
    try {
      console_->stop();
    } catch (...) {
      // Teardown goes on: the library must still be released in order.
    }
  }
  started_ = false;
  console_.reset();
  object_.reset();
  delete classes_;
  classes_ = nullptr;
  library_.reset();
  consoleClass_.clear();
}

}  // namespace orsahost
