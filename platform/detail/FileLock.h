#pragma once
// For the platform's own sources: an exclusive lock that the processes of the
// system honour, held on a lock file for the life of the object.

#include <cstdint>
#include <string>

namespace platform {

class FileLock {
 public:
  // Creates the lock file when missing and waits until the lock is had (the
  // holders keep it for one short read-modify-write).
  explicit FileLock(const std::string& nativePath);
  ~FileLock();  // releases; the file stays
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool locked() const { return handle_ != -1; }

 private:
  intptr_t handle_ = -1;
};

}  // namespace platform
