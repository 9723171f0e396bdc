#pragma once
#include <cstdint>

#include "orsa/Array.h"
#include "orsa/IOrsaObject.h"

namespace orsa {
namespace zip {

// Out arrays are filled (resized) by the callee; failures throw std::exception.
class IZipHelper : public IOrsaObject {
 public:
  static constexpr const char* kTypeName = "orsa::zip::IZipHelper";
  // `expectedSize` may be 0: the output then grows until the stream ends.
  virtual void uncompress(const unsigned char* data, uint32_t length, uint32_t expectedSize,
                          Array<unsigned char>& out, int flags) = 0;
  virtual void compress(const unsigned char* data, uint32_t length, Array<unsigned char>& out,
                        int flags) = 0;
};

}  // namespace zip
}  // namespace orsa
