#include "foundation/FileReader.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "foundation/RootException.h"
#include "platform/StateRoot.h"

namespace obx {
namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

void ReadOpenFile(const std::string& path, std::vector<unsigned char>& out) {
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer
  // that may never come; it changes nothing for the reads of a regular file.
  Descriptor file(
      ::open(platform::NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat info {};
  // A directory, FIFO or device opens on Linux but not as a file on Windows.
  if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      ::flock(file.get(), LOCK_SH | LOCK_NB) != 0)
    OBX_THROW_ROOT(0, "Could not open file: %s", path.c_str());

  uint64_t size = static_cast<uint64_t>(info.st_size);
  if (size == 0 || size >= (1ULL << 32) || size > kMaxWholeFileSize)
    OBX_THROW_ROOT(0, "File size is not within the expected range: size = %d",
                   static_cast<int>(static_cast<uint32_t>(size)));

  out.resize(static_cast<size_t>(size));
  size_t done = 0;
  while (done < size) {
    size_t want = static_cast<size_t>(size) - done;
    if (want > kWholeFileChunk) want = kWholeFileChunk;
    ssize_t got = ::read(file.get(), out.data() + done, want);
    if (got < 0 && errno == EINTR) continue;
    if (got == 0) throw CRootException(0, "Read file error", __FILE__, __LINE__);
    if (got < 0) OBX_THROW_ROOT(0, "Read file error: %s", path.c_str());
    done += static_cast<size_t>(got);
  }
}

}  // namespace

void ReadWholeFile(const std::string& path, std::vector<unsigned char>& out) {
  try {
    ReadOpenFile(path, out);
  } catch (const CRootException&) {
    throw;
  } catch (...) {
    // Allocation of the buffer is the likely one here.
    OBX_THROW_ROOT(0, "Read file error: %s", path.c_str());
  }
}

}  // namespace obx
