#include "host/services/TransferDigest.h"

#include <openssl/evp.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "text/Hex.h"

namespace orsahost {
namespace {

constexpr size_t kSlotBytes = size_t{1} << 18;
constexpr size_t kSlots = 16;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

struct ContextFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

}  // namespace

// The writer fills slot `filled % kSlots` and publishes it; each digest
// consumes the published slots in order; a slot is free again once every
// digest has passed it.
struct TransferDigest::Pipeline {
  struct Digest {
    explicit Digest(const EVP_MD* m) : md(m) {}
    const EVP_MD* md;
    std::unique_ptr<EVP_MD_CTX, ContextFree> context{EVP_MD_CTX_new()};
    uint64_t done = 0;  // slots digested
    bool ok = true;
    std::thread thread;
  };

  Digest digests[2] = {Digest(EVP_md5()), Digest(EVP_sha256())};
  std::vector<unsigned char> ring = std::vector<unsigned char>(kSlots * kSlotBytes);
  size_t sizes[kSlots] = {};
  uint64_t published = 0;  // slots handed to the digests
  size_t fill = 0;         // bytes in the slot being filled
  bool threaded = false;
  bool closing = false;
  bool abandoning = false;  // the digests are no longer wanted
  std::mutex mutex;
  std::condition_variable changed;

  unsigned char* Slot(uint64_t n) { return ring.data() + (n % kSlots) * kSlotBytes; }

  static bool Digest1(Digest& d, const unsigned char* data, size_t size) {
    return d.ok && EVP_DigestUpdate(d.context.get(), data, size) == 1;
  }

  void Consume(Digest& d) {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      changed.wait(lock, [&] { return closing || d.done < published; });
      // Closing: ends once everything is digested, or at once when abandoning.
      if (d.done == published || abandoning) return;
      const uint64_t n = d.done;
      lock.unlock();
      // The slot stays put while this digest has not passed it.
      const bool ok = Digest1(d, Slot(n), sizes[n % kSlots]);
      lock.lock();
      d.ok = ok;
      ++d.done;
      changed.notify_all();
    }
  }

  bool Start() {
    Stop(true);
    published = 0;
    fill = 0;
    bool ok = true;
    for (Digest& d : digests) {
      d.done = 0;
      d.ok = d.context && EVP_DigestInit_ex(d.context.get(), d.md, nullptr) == 1;
      ok = ok && d.ok;
    }
    return ok;
  }

  // Hands the slot being filled to the digests.
  void Publish() {
    if (fill == 0) return;
    if (!threaded) {
      for (Digest& d : digests) {
        d.ok = Digest1(d, Slot(published), fill);
        ++d.done;
      }
      ++published;
      fill = 0;
      return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    sizes[published % kSlots] = fill;
    ++published;
    fill = 0;
    changed.notify_all();
  }

  // Before the writer fills slot `published`: the slot must be free.
  void WaitForFreeSlot() {
    if (!threaded && (published == 0 || !ThreadsStarted())) return;
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] {
      for (const Digest& d : digests)
        if (d.done + kSlots <= published) return false;
      return true;
    });
  }

  // Starts the digest threads at the second slot; a small file never needs them.
  bool ThreadsStarted() {
    if (threaded) return true;
    try {
      closing = false;
      for (Digest& d : digests) d.thread = std::thread([this, &d] { Consume(d); });
      threaded = true;
    } catch (...) {
      // No thread: the writer digests. A thread that did start is ended.
      Stop(false);
    }
    return threaded;
  }

  // Ends the threads once they have digested what is published, or at once
  // when `abandon` (the digests are not wanted any more).
  void Stop(bool abandon) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      closing = true;
      abandoning = abandon;
      changed.notify_all();
    }
    for (Digest& d : digests)
      if (d.thread.joinable()) d.thread.join();
    threaded = false;
    closing = false;
    abandoning = false;
  }

  void Update(const unsigned char* data, size_t size) {
    while (size > 0) {
      if (fill == 0) WaitForFreeSlot();
      const size_t n = std::min(size, kSlotBytes - fill);
      std::memcpy(Slot(published) + fill, data, n);
      fill += n;
      data += n;
      size -= n;
      if (fill == kSlotBytes) Publish();
    }
  }
};

TransferDigest::TransferDigest() {
  try {
    pipeline_ = std::make_unique<Pipeline>();
    pipeline_->Start();
  } catch (...) {
    pipeline_.reset();  // no memory: every answer says the digest failed
  }
}

TransferDigest::~TransferDigest() {
  if (pipeline_) pipeline_->Stop(true);
}

bool TransferDigest::Reset() { return pipeline_ && pipeline_->Start(); }

bool TransferDigest::ResetToFile(const std::string& nativePath, uint64_t size,
                                 const std::function<bool()>& stop) {
  if (!Reset()) return false;
  if (size == 0) return true;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(nativePath.c_str(), "rb"));
  if (!file) return false;
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
  std::vector<unsigned char> chunk(kSlotBytes);
  while (size > 0) {
    if (stop && stop()) return false;
    const size_t want = size < chunk.size() ? static_cast<size_t>(size) : chunk.size();
    const size_t n = std::fread(chunk.data(), 1, want, file.get());
    if (n == 0) return false;
    Update(chunk.data(), n);
    size -= n;
  }
  return true;
}

void TransferDigest::Update(const void* data, size_t size) {
  if (pipeline_) pipeline_->Update(static_cast<const unsigned char*>(data), size);
}

bool TransferDigest::Finish(orsa::net::FileDigests& out) {
  if (!pipeline_) return false;
  Pipeline& p = *pipeline_;
  p.Publish();
  p.Stop(false);
  unsigned char bytes[2][EVP_MAX_MD_SIZE];
  unsigned int sizes[2] = {0, 0};
  bool ok = true;
  for (int i = 0; i < 2; ++i) {
    Pipeline::Digest& d = p.digests[i];
    ok = ok && d.ok && EVP_DigestFinal_ex(d.context.get(), bytes[i], &sizes[i]) == 1;
    d.ok = false;  // a context is spent once finished
  }
  if (!ok) return false;
  out.md5 = textutil::HexText(bytes[0], sizes[0]);
  out.sha256 = textutil::HexText(bytes[1], sizes[1]);
  return true;
}

}  // namespace orsahost
