#pragma once
// Streaming MD5 (OpenSSL EVP) for the peer-to-peer service: files are checked
// chunk by chunk, never held whole.
#include <cstddef>
#include <memory>
#include <string>

struct evp_md_ctx_st;

namespace platform {
class ReadOnlyFile;
}

namespace orsap2p {

class Md5 {
 public:
  Md5();
  ~Md5();
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;

  void Update(const void* data, size_t length);
  // 32 lowercase hexadecimal digits; "" when the digest library failed.
  std::string HexDigest();

 private:
  evp_md_ctx_st* context_;
  bool failed_ = false;
};

// The MD5 of everything readable from `file` from offset 0; "" when a read
// fails.
std::string Md5OfFile(platform::ReadOnlyFile& file);

// True for 32 hexadecimal digits in either case.
bool IsMd5Text(const std::string& text);
std::string LowerCase(std::string text);

}  // namespace orsap2p
