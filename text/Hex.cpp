#include "text/Hex.h"

namespace textutil {

std::string HexText(const void* bytes, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  const unsigned char* in = static_cast<const unsigned char*>(bytes);
  std::string hex(2 * count, '0');
  for (size_t i = 0; i < count; ++i) {
    hex[2 * i] = kDigits[in[i] >> 4];
    hex[2 * i + 1] = kDigits[in[i] & 0x0f];
  }
  return hex;
}

}  // namespace textutil
