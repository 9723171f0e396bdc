#pragma once
// Type names as the compiler's run-time type information spells them, in
// readable form ("orsa::IConsoleExt"). The host matches interfaces by these
// texts, so the component and the host must both use this function.
#include <string>
#include <typeinfo>

namespace textutil {

// The readable name of `type`; the raw name when it cannot be made readable.
std::string ReadableTypeName(const std::type_info& type);

// Inline in every module that asks; ReadableTypeName gives every module the
// same text for the same type.
template <class T>
std::string TypeNameOf() {
  return ReadableTypeName(typeid(T));
}

}  // namespace textutil
