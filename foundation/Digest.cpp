#include "foundation/Digest.h"

#include <openssl/evp.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "foundation/RootException.h"
#include "platform/StateRoot.h"
#include "text/Hex.h"

namespace obx {
namespace {

constexpr size_t kMaxDigestInput = 100000000;
// Large enough that the reads cost little, small enough that a chunk is still
// in the processor cache when it is digested.
constexpr size_t kFileDigestChunk = size_t{1} << 17;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
struct ContextFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

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

bool SameMd5(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const unsigned char x = static_cast<unsigned char>(a[i]);
    const unsigned char y = static_cast<unsigned char>(b[i]);
    // Letters only: 'A'-'F' and 'a'-'f' differ by 0x20; other bytes must match.
    const auto lower = [](unsigned char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 0x20) : c;
    };
    if (lower(x) != lower(y)) return false;
  }
  return true;
}

namespace {

// The digests `mds` of the file at `path` as lowercase hexadecimal, read once.
template <size_t N>
bool GetFileDigestsHex(const std::string& path, const EVP_MD* const (&mds)[N],
                       std::string* (&out)[N]) {
  try {
    const std::string native = platform::NativePath(path);
    // Only a regular file: a FIFO would block the open, a folder has no bytes.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(native, ec)) return false;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(native.c_str(), "rb"));
    if (!file) return false;
    std::setvbuf(file.get(), nullptr, _IONBF, 0);  // the chunk is the buffer
    std::unique_ptr<EVP_MD_CTX, ContextFree> contexts[N];
    for (size_t i = 0; i < N; ++i) {
      contexts[i].reset(EVP_MD_CTX_new());
      if (!contexts[i] || EVP_DigestInit_ex(contexts[i].get(), mds[i], nullptr) != 1) return false;
    }
    std::vector<unsigned char> chunk(kFileDigestChunk);
    for (;;) {
      const size_t n = std::fread(chunk.data(), 1, chunk.size(), file.get());
      for (size_t i = 0; i < N && n > 0; ++i)
        if (EVP_DigestUpdate(contexts[i].get(), chunk.data(), n) != 1) return false;
      if (n < chunk.size()) break;
    }
    if (std::ferror(file.get())) return false;
    std::string hex[N];
    for (size_t i = 0; i < N; ++i) {
      unsigned char bytes[EVP_MAX_MD_SIZE];
      unsigned int size = 0;
      if (EVP_DigestFinal_ex(contexts[i].get(), bytes, &size) != 1 ||
          size != static_cast<unsigned int>(EVP_MD_size(mds[i])))
        return false;
      hex[i] = textutil::HexText(bytes, size);
    }
    for (size_t i = 0; i < N; ++i) *out[i] = std::move(hex[i]);
    return true;
  } catch (...) {
    return false;  // allocation failures: the caller treats it as an unreadable file
  }
}

}  // namespace

bool GetFileMd5Hex(const std::string& path, std::string& out) {
  const EVP_MD* const mds[] = {EVP_md5()};
  std::string* outs[] = {&out};
  return GetFileDigestsHex(path, mds, outs);
}

bool GetFileSha256Hex(const std::string& path, std::string& out) {
  const EVP_MD* const mds[] = {EVP_sha256()};
  std::string* outs[] = {&out};
  return GetFileDigestsHex(path, mds, outs);
}

bool FileMatchesDigests(const std::string& path, const std::string& md5, const std::string& sha256,
                        std::string* mismatch) {
  std::string actualMd5;
  std::string actualSha256;
  if (sha256.empty()) {
    GetFileMd5Hex(path, actualMd5);
  } else {
    const EVP_MD* const mds[] = {EVP_md5(), EVP_sha256()};
    std::string* outs[] = {&actualMd5, &actualSha256};
    GetFileDigestsHex(path, mds, outs);
  }
  return DigestsMatch(actualMd5, actualSha256, md5, sha256, mismatch);
}

bool DigestsMatch(const std::string& actualMd5, const std::string& actualSha256,
                  const std::string& md5, const std::string& sha256, std::string* mismatch) {
  if (actualMd5.empty() || !SameMd5(actualMd5, md5)) {
    if (mismatch) *mismatch = "md5, expected:" + md5 + " actual:" + actualMd5;
    return false;
  }
  if (sha256.empty()) return true;
  if (actualSha256.empty() || !SameMd5(actualSha256, sha256)) {
    if (mismatch) *mismatch = "sha256, expected:" + sha256 + " actual:" + actualSha256;
    return false;
  }
  return true;
}

}  // namespace obx
