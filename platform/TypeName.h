#pragma once
// Type names as the platform's run-time type information spells them, in
// readable form ("orsa::IConsoleExt"). The host matches interfaces by these
// texts, so the component and the host must both use this function.
#include <string>
#include <typeinfo>

#include "platform/Export.h"

namespace platform {

// The readable name of `type`; the raw name when it cannot be made readable.
PLATFORM_EXPORT std::string ReadableTypeName(const std::type_info& type);

// Inline in every module that asks: only ReadableTypeName crosses the
// platform's interface.
template <class T>
std::string TypeNameOf() {
  return ReadableTypeName(typeid(T));
}

}  // namespace platform
