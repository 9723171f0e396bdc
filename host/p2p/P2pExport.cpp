// The composite's one exported symbol.
#include <boost/bind/bind.hpp>
#include <boost/make_shared.hpp>
#include <set>
#include <string>
#include <type_traits>

#include "host/p2p/P2pDownload.h"
#include "orsa/IClassMeta.h"
#include "orsa/OrsaObjectCreator.h"
#include "orsa/OrsaObjectMeta.h"
#include "platform/Export.h"
#include "text/TypeName.h"

namespace {

void Attach(orsap2p::P2pDownload* service, orsa::IRuntime* runtime) { service->Attach(runtime); }

}  // namespace

// Stores in *classes a new array with the metadata of the peer-to-peer
// service; each object it makes logs through `runtime`. The host owns the
// array. Nothing thrown inside reaches the host: on failure *classes stays null.
extern "C" MODULE_EXPORT void OrsaExportClass(orsa::ClassMetaArray** classes,
                                              orsa::IRuntime* runtime) {
  if (classes == nullptr) return;
  *classes = nullptr;
  try {
    typedef orsa::OrsaObjectCreator<orsap2p::P2pDownload> Creator;
    Creator::Hook init = boost::bind(&Attach, boost::placeholders::_1, runtime);
    orsa::IClassMetaPtr meta = boost::make_shared<orsa::OrsaObjectMeta>(
        textutil::TypeNameOf<orsap2p::P2pDownload>(),
        std::set<std::string>{orsa::net::IP2pDownload::kTypeName}, new Creator(init));
    orsa::ClassMetaArray* array = new orsa::ClassMetaArray(1);
    (*array)[0] = meta;
    *classes = array;
  } catch (...) {
    *classes = nullptr;
  }
}

static_assert(std::is_same<decltype(&OrsaExportClass), OrsaExportClassFn>::value,
              "the export must keep the signature the host calls it with");
