#include "platform/WritableFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/StateRoot.h"
#include "platform/posix/PosixError.h"

namespace platform {
namespace {

constexpr uint64_t kWriteBackBytes = uint64_t{8} << 20;

long LastError() { return WindowsErrorFromErrno(errno); }

}  // namespace

WritableFile::~WritableFile() { Close(); }

long WritableFile::Open(const std::string& path) {
  Close();
  const int fd =
      ::open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return LastError();
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    const long error = LastError();
    ::close(fd);
    return error;
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    return kErrorAccessDenied;
  }
  handle_ = fd;
  size_ = static_cast<uint64_t>(info.st_size);
  return kErrorSuccess;
}

long WritableFile::Truncate(uint64_t size) {
  const int fd = static_cast<int>(handle_);
  if (fd < 0) return kErrorInvalidHandle;
  const off_t at = static_cast<off_t>(size);
  unflushed_ = 0;
  if (::ftruncate(fd, at) != 0 || ::lseek(fd, at, SEEK_SET) < 0) return LastError();
  return kErrorSuccess;
}

long WritableFile::Write(const void* data, size_t size) {
  const int fd = static_cast<int>(handle_);
  if (fd < 0) return kErrorInvalidHandle;
  // The disk starts on what was written while more arrives, so the Flush at
  // the end waits only for the last part instead of the whole file.
  if (unflushed_ >= kWriteBackBytes) {
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    if (end >= static_cast<off_t>(unflushed_))
      ::sync_file_range(fd, end - static_cast<off_t>(unflushed_), static_cast<off_t>(unflushed_),
                        SYNC_FILE_RANGE_WRITE);
    unflushed_ = 0;
  }
  unflushed_ += size;
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    done += static_cast<size_t>(n);
  }
  return kErrorSuccess;
}

long WritableFile::Flush() {
  const int fd = static_cast<int>(handle_);
  if (fd < 0) return kErrorInvalidHandle;
  return ::fsync(fd) == 0 ? kErrorSuccess : LastError();
}

long WritableFile::Close() {
  if (handle_ < 0) return kErrorSuccess;
  const int fd = static_cast<int>(handle_);
  handle_ = -1;
  size_ = 0;
  unflushed_ = 0;
  return ::close(fd) == 0 ? kErrorSuccess : LastError();
}

void FlushFolderOf(const std::string& path) {
  const std::string native = NativePath(path);
  const std::string::size_type slash = native.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : native.substr(0, slash));
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace platform
