#include "foundation/Digest.h"

#include <openssl/evp.h>

#include <cstdio>

#include "foundation/RootException.h"

namespace obx {
namespace {

constexpr size_t kMaxDigestInput = 100000000;

class Md5DigestOwner : public IDigestOwner {
 public:
  size_t DigestSize() const override { return 16; }

  int GetDigest(const void* data, size_t length, unsigned char* out, size_t outSize) override {
    if (data == nullptr) return kNullData;
    if (out == nullptr || outSize < DigestSize()) return kBufferTooSmall;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (context == nullptr) return kFailed;
    unsigned int size = 0;
    bool ok = EVP_DigestInit_ex(context, EVP_md5(), nullptr) == 1 &&
              EVP_DigestUpdate(context, data, length) == 1 &&
              EVP_DigestFinal_ex(context, out, &size) == 1 && size == DigestSize();
    EVP_MD_CTX_free(context);
    return ok ? kOk : kFailed;
  }
};

}  // namespace

std::unique_ptr<IDigestOwner> CreateDigestOwner(const std::string& name) {
  if (name == "md5") return std::make_unique<Md5DigestOwner>();
  return nullptr;
}

void GetMd5Hex(const void* data, size_t length, std::string& out) {
  if (data == nullptr || length > kMaxDigestInput)
    throw CRootException(0, "pData == NULL || len > 100000000", __FILE__, __LINE__);
  std::unique_ptr<IDigestOwner> digest = CreateDigestOwner("md5");
  unsigned char bytes[16] = {};
  if (!digest || digest->GetDigest(data, length, bytes, sizeof bytes) != IDigestOwner::kOk)
    throw CRootException(0, "IDigestOwner::GetDigest() failed.", __FILE__, __LINE__);
  char hex[33];
  for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%.2x", bytes[i]);
  out.assign(hex, 32);
}

}  // namespace obx
