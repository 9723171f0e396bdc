#include "platform/detail/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

FileLock::FileLock(const std::string& nativePath) {
  int fd = open(nativePath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  int rc;
  do {
    rc = flock(fd, LOCK_EX);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    close(fd);
    return;
  }
  handle_ = fd;
}

FileLock::~FileLock() {
  if (handle_ != -1) close(static_cast<int>(handle_));  // closing releases the lock
}

}  // namespace platform
