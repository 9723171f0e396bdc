#pragma once
// MD5 and SHA-256 of a file computed while it is written: the bytes already on
// disk first (a resumed transfer), then every piece as it is appended, so that
// a checked download reads nothing back.
//
// The bytes are copied into a ring of buffers (4 MiB in all) and each digest
// runs on a thread of its own, so that the digests keep pace with the
// transfer instead of adding their time to it; a writer that gets ahead waits
// for a free buffer. Without threads (the system refuses one) the digests run
// on the writer's thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "orsa/INet.h"

namespace orsahost {

// Threads: its methods are called from one thread at a time. Never throws.
class TransferDigest {
 public:
  TransferDigest();
  ~TransferDigest();
  TransferDigest(const TransferDigest&) = delete;
  TransferDigest& operator=(const TransferDigest&) = delete;

  // Starts again over no bytes; false when the digest library refused.
  bool Reset();
  // Starts again over the first `size` bytes of the file at `nativePath`;
  // false when they cannot all be read, or when `stop` (tested between
  // chunks, so a large part does not hold up a stop) answers true.
  bool ResetToFile(const std::string& nativePath, uint64_t size,
                   const std::function<bool()>& stop = nullptr);
  void Update(const void* data, size_t size);
  // The digests of every byte given since the last reset; false when the
  // library failed somewhere on the way. A reset is needed before more bytes.
  bool Finish(orsa::net::FileDigests& out);

 private:
  struct Pipeline;
  std::unique_ptr<Pipeline> pipeline_;
};

}  // namespace orsahost
