#pragma once
#include <cstdint>
#include <string>

#include "orsa/Array.h"
#include "orsa/IOrsaObject.h"

namespace orsa {
namespace security {

// Out arrays are filled (resized) by the callee. Every operation throws
// std::exception on failure; `decrypt` throws when the data were not sealed
// with that key or were changed in any byte.
class ISecurityHelper : public IOrsaObject {
 public:
  static constexpr const char* kTypeName = "orsa::security::ISecurityHelper";
  virtual void base64Encode(const unsigned char* data, uint32_t length, Array<char>& out) = 0;
  virtual void base64Decode(const char* data, uint32_t length, Array<unsigned char>& out) = 0;
  virtual void decrypt(const std::string& key, const unsigned char* data, uint32_t length,
                       Array<unsigned char>& out) = 0;
  virtual void encrypt(const std::string& key, const unsigned char* data, uint32_t length,
                       Array<unsigned char>& out) = 0;
};

}  // namespace security
}  // namespace orsa
