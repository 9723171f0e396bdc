#include "platform/StateRootLock.h"

#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/detail/LockOwner.h"

namespace platform {

namespace {

// The id the owner wrote, 0 when it cannot be told.
long ReadOwner(int fd) {
  char text[32];
  const ssize_t n = pread(fd, text, sizeof text, 0);
  return n > 0 ? detail::ParseLockOwner(text, static_cast<size_t>(n)) : 0;
}

}  // namespace

StateRootLock::~StateRootLock() { Release(); }

StateRootLock::Result StateRootLock::Acquire(const std::string& root) {
  Release();
  owner_ = 0;
  error_.clear();
  std::string path = root + "/" + detail::kLockFileName;
  // Close-on-exec: a program the owner starts must not keep the lock alive
  // after the owner has ended.
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error_ = path + ": " + strerror(errno);
    return kFailed;
  }
  // flock belongs to this open file: a second object in the same process is
  // refused as well, and a fork's copy goes with the exec.
  int rc;
  do {
    rc = flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    int error = errno;
    Result result = kFailed;
    if (error == EWOULDBLOCK) {
      owner_ = ReadOwner(fd);
      result = kHeldElsewhere;
    } else {
      error_ = path + ": " + strerror(error);
    }
    close(fd);
    return result;
  }
  // Only the message of a refused process needs the id; the lock holds without it.
  std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) == 0) {
    ssize_t written = pwrite(fd, pid.data(), pid.size(), 0);
    (void)written;
  }
  handle_ = fd;
  return kAcquired;
}

void StateRootLock::Release() {
  if (handle_ < 0) return;
  close(static_cast<int>(handle_));  // drops the lock
  handle_ = -1;
}

}  // namespace platform
