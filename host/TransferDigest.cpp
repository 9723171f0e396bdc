#include "host/TransferDigest.h"

#include <openssl/evp.h>

#include <cstdio>
#include <vector>

namespace orsahost {
namespace {

constexpr size_t kReadChunk = size_t{1} << 18;

std::string HexOf(const unsigned char* bytes, unsigned int count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex(2 * count, '0');
  for (unsigned int i = 0; i < count; ++i) {
    hex[2 * i] = kDigits[bytes[i] >> 4];
    hex[2 * i + 1] = kDigits[bytes[i] & 0x0f];
  }
  return hex;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

struct TransferDigest::Contexts {
  EVP_MD_CTX* md5 = EVP_MD_CTX_new();
  EVP_MD_CTX* sha256 = EVP_MD_CTX_new();
  ~Contexts() {
    EVP_MD_CTX_free(md5);
    EVP_MD_CTX_free(sha256);
  }
};

TransferDigest::TransferDigest() : contexts_(new Contexts) { Reset(); }

TransferDigest::~TransferDigest() = default;

void TransferDigest::Reset() {
  ready_ = contexts_->md5 != nullptr && contexts_->sha256 != nullptr &&
           EVP_DigestInit_ex(contexts_->md5, EVP_md5(), nullptr) == 1 &&
           EVP_DigestInit_ex(contexts_->sha256, EVP_sha256(), nullptr) == 1;
}

bool TransferDigest::ResetToFile(const std::string& nativePath, uint64_t size) {
  Reset();
  if (size == 0) return ready_;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(nativePath.c_str(), "rb"));
  if (!file) return false;
  std::setvbuf(file.get(), nullptr, _IONBF, 0);  // the chunk is the buffer
  std::vector<unsigned char> chunk(kReadChunk);
  while (size > 0) {
    const size_t want = size < chunk.size() ? static_cast<size_t>(size) : chunk.size();
    const size_t n = std::fread(chunk.data(), 1, want, file.get());
    if (n == 0) return false;
    Update(chunk.data(), n);
    size -= n;
  }
  return ready_;
}

void TransferDigest::Update(const void* data, size_t size) {
  if (!ready_ || size == 0) return;
  ready_ = EVP_DigestUpdate(contexts_->md5, data, size) == 1 &&
           EVP_DigestUpdate(contexts_->sha256, data, size) == 1;
}

bool TransferDigest::Finish(orsa::net::FileDigests& out) {
  unsigned char md5[EVP_MAX_MD_SIZE];
  unsigned char sha256[EVP_MAX_MD_SIZE];
  unsigned int md5Size = 0;
  unsigned int shaSize = 0;
  const bool ok = ready_ && EVP_DigestFinal_ex(contexts_->md5, md5, &md5Size) == 1 &&
                  EVP_DigestFinal_ex(contexts_->sha256, sha256, &shaSize) == 1;
  ready_ = false;  // a context is spent once finished
  if (!ok) return false;
  out.md5 = HexOf(md5, md5Size);
  out.sha256 = HexOf(sha256, shaSize);
  return true;
}

}  // namespace orsahost
