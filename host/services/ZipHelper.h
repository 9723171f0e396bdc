#pragma once
// The host's compression service: zlib streams (RFC 1950) at the default level.
//
// `uncompress` inflates without knowing the size of the result: `expectedSize`
// is only a hint for the first allocation, and 0 is normal. The output grows
// as the stream is read, up to a cap; a stream whose output would pass the cap
// is refused as a decompression bomb. The default cap, 256 MiB, is well above
// the largest file the agent handles (100000000 bytes) and far below what a
// few kilobytes of crafted input could otherwise make the process allocate.
//
// Threads: stateless; any thread. Failures: std::runtime_error for a corrupt or
// truncated stream, bytes after the end of the stream, output above the cap or
// a zlib error; the out array is then left unspecified. `flags` are ignored.
#include <cstdint>

#include "orsa/IZipHelper.h"

namespace orsahost {

class ZipHelper : public orsa::zip::IZipHelper {
 public:
  static constexpr uint32_t kDefaultMaxOutput = 256u * 1024u * 1024u;

  ZipHelper() = default;
  // A helper whose uncompress refuses output above `maxOutput` bytes.
  explicit ZipHelper(uint32_t maxOutput) : maxOutput_(maxOutput) {}

  void uncompress(const unsigned char* data, uint32_t length, uint32_t expectedSize,
                  orsa::Array<unsigned char>& out, int flags) override;
  void compress(const unsigned char* data, uint32_t length, orsa::Array<unsigned char>& out,
                int flags) override;

 private:
  uint32_t maxOutput_ = kDefaultMaxOutput;
};

}  // namespace orsahost
