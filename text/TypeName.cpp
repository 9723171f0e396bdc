#include "text/TypeName.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>

namespace textutil {

std::string ReadableTypeName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> readable(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  if (status != 0 || !readable) return type.name();
  return readable.get();
}

}  // namespace textutil
