// The library's one exported symbol.
#include <boost/bind/bind.hpp>
#include <boost/make_shared.hpp>
#include <set>
#include <string>
#include <type_traits>

#include "component/IOBXConsoleImpl.h"
#include "foundation/Runtime.h"
#include "foundation/SettingsStore.h"
#include "orsa/IClassMeta.h"
#include "orsa/OrsaObjectCreator.h"
#include "orsa/OrsaObjectMeta.h"
#include "platform/Export.h"
#include "sysinfo/OsInfo.h"
#include "text/TypeName.h"

namespace {

// Values fixed when the library is loaded, as a Windows DLL reads them when
// it is attached: the install folder and the user name of the host process.
// Only this library does it, so no other program of the project touches the
// registry before its main.
struct LoadTimeValues {
  LoadTimeValues() {
    try {
      obx::CaptureModuleFolder();
      obx::CaptureHostUserName();
    } catch (...) {
      // Nothing may leave a load-time constructor; the values stay empty.
    }
  }
} const g_loadTimeValues;

void InitializeConsole(obx::IOBXConsoleImpl* console) { console->initialize(); }

}  // namespace

// Keeps `runtime` for the library's life and stores in *classes a new array
// holding the console's class metadata; the host owns the array. Nothing
// thrown inside reaches the host: on failure *classes stays null.
extern "C" MODULE_EXPORT void OrsaExportClass(orsa::ClassMetaArray** classes,
                                              orsa::IRuntime* runtime) {
  obx::SetRuntime(runtime);
  if (classes == nullptr) return;
  *classes = nullptr;
  try {
    typedef orsa::OrsaObjectCreator<obx::IOBXConsoleImpl> Creator;
    Creator::Hook init = boost::bind(&InitializeConsole, boost::placeholders::_1);
    Creator::Hook destroy;
    orsa::IClassMetaPtr meta = boost::make_shared<orsa::OrsaObjectMeta>(
        textutil::TypeNameOf<obx::IOBXConsoleImpl>(),
        std::set<std::string>{textutil::TypeNameOf<orsa::IConsoleExt>()},
        new Creator(init, destroy));
    orsa::ClassMetaArray* array = new orsa::ClassMetaArray(1);
    (*array)[0] = meta;
    *classes = array;
  } catch (...) {
    *classes = nullptr;
  }
}

static_assert(std::is_same<decltype(&OrsaExportClass), OrsaExportClassFn>::value,
              "the export must keep the signature the host calls it with");
