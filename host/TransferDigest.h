#pragma once
// MD5 and SHA-256 of a file computed while it is written: the bytes already on
// disk first (a resumed transfer), then every piece as it is appended, so that
// a checked download reads nothing back.
#include <cstdint>
#include <memory>
#include <string>

#include "orsa/INet.h"

namespace orsahost {

// Threads: one at a time. Never throws once made.
class TransferDigest {
 public:
  TransferDigest();
  ~TransferDigest();
  TransferDigest(const TransferDigest&) = delete;
  TransferDigest& operator=(const TransferDigest&) = delete;

  // False when the digest library refused to start.
  bool Ready() const { return ready_; }
  // Starts again over no bytes.
  void Reset();
  // Starts again over the first `size` bytes of the file at `nativePath`;
  // false when they cannot all be read.
  bool ResetToFile(const std::string& nativePath, uint64_t size);
  void Update(const void* data, size_t size);
  // The digests of every byte given since the last reset; false when the
  // library failed somewhere on the way.
  bool Finish(orsa::net::FileDigests& out);

 private:
  struct Contexts;
  std::unique_ptr<Contexts> contexts_;
  bool ready_ = false;
};

}  // namespace orsahost
