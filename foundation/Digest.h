#pragma once
// Message digests by name, and the MD5 of a buffer as lowercase hexadecimal.
#include <cstddef>
#include <memory>
#include <string>

namespace obx {

// A one-shot digest. Each GetDigest call is independent (a fresh context per
// call), so one object may be reused; it is not shared between threads.
class IDigestOwner {
 public:
  static constexpr int kOk = 0;
  static constexpr int kNullData = 1;
  static constexpr int kFailed = 2;  // the digest library refused the computation
  static constexpr int kBufferTooSmall = 3;

  virtual ~IDigestOwner() = default;
  // Size of the digest in bytes (16 for MD5).
  virtual size_t DigestSize() const = 0;
  // Digests `length` bytes at `data` into `out` (at least DigestSize() bytes).
  // `data` may point at 0 bytes but may not be null.
  virtual int GetDigest(const void* data, size_t length, unsigned char* out, size_t outSize) = 0;
};

// The digest called `name`; "md5" is the only one. Null for an unknown name.
std::unique_ptr<IDigestOwner> CreateDigestOwner(const std::string& name);

// Replaces `out` with the 32 lowercase hexadecimal digits of the MD5 of the
// bytes. Throws CRootException "pData == NULL || len > 100000000" for null
// data or more than 100000000 bytes, and "IDigestOwner::GetDigest() failed."
// when the digest cannot be computed; `out` is unchanged when it throws.
void GetMd5Hex(const void* data, size_t length, std::string& out);

// The MD5 of the file at `path` (a Windows-style path is accepted), read in
// fixed-size chunks so that a file of any size costs the same memory. Replaces
// `out` with the 32 lowercase hexadecimal digits and answers true; answers
// false with `out` unchanged when the path is not a regular file or cannot be
// opened or read to its end. Never throws.
bool GetFileMd5Hex(const std::string& path, std::string& out);

// The SHA-256 of the file at `path` as 64 lowercase hexadecimal digits; as
// GetFileMd5Hex otherwise.
bool GetFileSha256Hex(const std::string& path, std::string& out);

// True when two digest texts (MD5 or SHA-256) name the same digest: the
// hexadecimal digits compared without regard to letter case (a policy may give
// them in upper case). Any other difference, the length included, makes them
// differ.
bool SameMd5(const std::string& a, const std::string& b);

// True when the file at `path` can be read and has MD5 `md5` and, when
// `sha256` is not empty, SHA-256 `sha256`. MD5 alone does not pin content (two
// files with one MD5 are cheap to make), so a policy that gives a SHA-256 is
// held to it. On false, `mismatch` (when given) names the failing digest with
// the expected and the actual value.
// The file is read once, for both digests.
bool FileMatchesDigests(const std::string& path, const std::string& md5, const std::string& sha256,
                        std::string* mismatch = nullptr);

// As FileMatchesDigests for a file whose digests are already known (computed
// while it was written): `actualMd5` and `actualSha256` against the expected
// `md5` and, when not empty, `sha256`. An empty actual digest never matches.
bool DigestsMatch(const std::string& actualMd5, const std::string& actualSha256,
                  const std::string& md5, const std::string& sha256,
                  std::string* mismatch = nullptr);

}  // namespace obx
