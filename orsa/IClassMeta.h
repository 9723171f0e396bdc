#pragma once
// Class metadata a component library hands to the host through its export.
#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <string>

#include "orsa/Array.h"
#include "orsa/IOrsaObject.h"
#include "orsa/IRuntime.h"

namespace orsa {

typedef Array<std::string> StringArray;
typedef boost::shared_ptr<StringArray> StringArrayPtr;

class IClassMeta {
 public:
  virtual ~IClassMeta() = default;
  virtual const char* getName() const = 0;
  // True when `typeName` (non-null) is one of the interfaces the class implements.
  virtual bool supports(const char* typeName) const = 0;
  // A new object; `context` is an opaque value kept by the object. Throws
  // std::exception for an abstract class. The object's release calls back into
  // this metadata's creator, so the metadata must outlive every object it made.
  virtual IOrsaObjectPtr createObject(uintptr_t context) = 0;
  virtual StringArrayPtr getSupers() const = 0;
  virtual bool isAbstract() const = 0;
};
typedef boost::shared_ptr<IClassMeta> IClassMetaPtr;
typedef Array<IClassMetaPtr> ClassMetaArray;

}  // namespace orsa

// The one export of a component library (C linkage): stores a new array of
// class metadata in *classes (owned by the host from then on) and keeps
// `runtime` for the library's life.
extern "C" typedef void (*OrsaExportClassFn)(orsa::ClassMetaArray** classes,
                                             orsa::IRuntime* runtime);
