#include "foundation/Cipher.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "foundation/Runtime.h"

namespace obx {

const char kPassphrase[] = "Grey owls hum softly over the marsh ok";
static_assert(sizeof(kPassphrase) == 39, "the passphrase has 38 characters");

namespace {

// The host's buffers carry 32-bit counts.
uint32_t Count(size_t length) {
  if (length > UINT32_MAX) throw std::length_error("text too long to seal");
  return static_cast<uint32_t>(length);
}

}  // namespace

std::string SealWith(orsa::security::ISecurityHelper& security, orsa::zip::IZipHelper& zip,
                     const std::string& key, const char* data, size_t length) {
  orsa::Array<unsigned char> compressed;
  zip.compress(reinterpret_cast<const unsigned char*>(data), Count(length), compressed, 0);
  orsa::Array<unsigned char> encrypted;
  security.encrypt(key, compressed.data(), compressed.size(), encrypted);
  orsa::Array<char> encoded;
  security.base64Encode(encrypted.data(), encrypted.size(), encoded);
  // The encoder's count is exact; the text is not NUL-terminated.
  return std::string(encoded.data() ? encoded.data() : "", encoded.size());
}

std::string OpenWith(orsa::security::ISecurityHelper& security, orsa::zip::IZipHelper& zip,
                     const std::string& key, const std::string& sealed) {
  orsa::Array<unsigned char> encrypted;
  security.base64Decode(sealed.data(), Count(sealed.size()), encrypted);
  orsa::Array<unsigned char> compressed;
  security.decrypt(key, encrypted.data(), encrypted.size(), compressed);
  orsa::Array<unsigned char> plain;
  zip.uncompress(compressed.data(), compressed.size(), 0, plain, 0);
  // Callers treat the result as a C text: it ends at the first NUL byte.
  const char* bytes = reinterpret_cast<const char*>(plain.data());
  if (bytes == nullptr) return std::string();
  const void* nul = std::memchr(bytes, '\0', plain.size());
  size_t size = nul ? static_cast<size_t>(static_cast<const char*>(nul) - bytes) : plain.size();
  return std::string(bytes, size);
}

void EncryptText(const std::string& key, std::string& out, const char* data, size_t length) {
  boost::shared_ptr<orsa::security::ISecurityHelper> security =
      getService<orsa::security::ISecurityHelper>();
  boost::shared_ptr<orsa::zip::IZipHelper> zip = getService<orsa::zip::IZipHelper>();
  if (!security || !zip) return;
  out += SealWith(*security, *zip, key, data, length);
}

void DecryptText(const std::string& key, std::string& out, const std::string& sealed) {
  boost::shared_ptr<orsa::security::ISecurityHelper> security =
      getService<orsa::security::ISecurityHelper>();
  boost::shared_ptr<orsa::zip::IZipHelper> zip = getService<orsa::zip::IZipHelper>();
  if (!security || !zip) return;
  out = OpenWith(*security, *zip, key, sealed);
}

}  // namespace obx
