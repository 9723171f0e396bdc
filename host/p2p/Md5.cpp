#include "host/p2p/Md5.h"

#include <openssl/evp.h>

#include <cctype>
#include <vector>

#include "platform/File.h"
#include "text/Hex.h"

namespace orsap2p {

Md5::Md5() : context_(EVP_MD_CTX_new()) {
  failed_ = context_ == nullptr || EVP_DigestInit_ex(context_, EVP_md5(), nullptr) != 1;
}

Md5::~Md5() { EVP_MD_CTX_free(context_); }

void Md5::Update(const void* data, size_t length) {
  if (!failed_ && length > 0) failed_ = EVP_DigestUpdate(context_, data, length) != 1;
}

std::string Md5::HexDigest() {
  unsigned char bytes[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (failed_ || EVP_DigestFinal_ex(context_, bytes, &size) != 1 || size != 16) return "";
  failed_ = true;  // finalised: no further use
  return textutil::HexText(bytes, size);
}

std::string Md5OfFile(platform::ReadOnlyFile& file) {
  Md5 md5;
  std::vector<unsigned char> chunk(size_t{1} << 20);
  uint64_t offset = 0;
  for (;;) {
    size_t got = 0;
    if (file.ReadAt(offset, chunk.data(), chunk.size(), &got) != platform::kErrorSuccess) return "";
    if (got == 0) break;
    md5.Update(chunk.data(), got);
    offset += got;
  }
  return md5.HexDigest();
}

bool IsMd5Text(const std::string& text) {
  if (text.size() != 32) return false;
  for (char c : text)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace orsap2p
