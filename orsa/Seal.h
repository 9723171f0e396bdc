#pragma once
// The sealed-text form shared by the host's tools and the component: the text
// compressed, encrypted with a passphrase and encoded as Base64, each step by
// the host's services (IZipHelper, ISecurityHelper). Opening runs the steps
// backwards; exceptions of the services reach the caller.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "orsa/ISecurityHelper.h"
#include "orsa/IZipHelper.h"

namespace orsa {

// The agent's passphrase: the key of every seal and unseal, and of the
// composites it loads. The host's tools (composites, orsa-seal, obx-server)
// default to it.
inline constexpr char kPassphrase[] = "Grey owls hum softly over the marsh ok";
static_assert(sizeof(kPassphrase) == 39, "the passphrase has 38 characters");

namespace detail {
// The services' buffers carry 32-bit counts.
inline uint32_t SealCount(size_t length) {
  if (length > UINT32_MAX) throw std::length_error("text too long to seal");
  return static_cast<uint32_t>(length);
}
}  // namespace detail

// The sealed text of the `length` bytes at `data`.
inline std::string SealWith(security::ISecurityHelper& security, zip::IZipHelper& zip,
                            const std::string& key, const char* data, size_t length) {
  Array<unsigned char> compressed;
  zip.compress(reinterpret_cast<const unsigned char*>(data), detail::SealCount(length), compressed,
               0);
  Array<unsigned char> encrypted;
  security.encrypt(key, compressed.data(), compressed.size(), encrypted);
  Array<char> encoded;
  security.base64Encode(encrypted.data(), encrypted.size(), encoded);
  // The encoder's count is exact; the text is not NUL-terminated.
  return std::string(encoded.data() ? encoded.data() : "", encoded.size());
}

// The opened text, up to its first NUL: callers treat it as a C text.
inline std::string OpenWith(security::ISecurityHelper& security, zip::IZipHelper& zip,
                            const std::string& key, const std::string& sealed) {
  Array<unsigned char> encrypted;
  security.base64Decode(sealed.data(), detail::SealCount(sealed.size()), encrypted);
  Array<unsigned char> compressed;
  security.decrypt(key, encrypted.data(), encrypted.size(), compressed);
  Array<unsigned char> plain;
  zip.uncompress(compressed.data(), compressed.size(), 0, plain, 0);
  const char* bytes = reinterpret_cast<const char*>(plain.data());
  if (bytes == nullptr) return std::string();
  const void* nul = std::memchr(bytes, '\0', plain.size());
  const size_t size =
      nul ? static_cast<size_t>(static_cast<const char*>(nul) - bytes) : plain.size();
  return std::string(bytes, size);
}

}  // namespace orsa
