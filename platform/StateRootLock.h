#pragma once
// The claim of one process on a state root, for as long as it holds the
// object: two hosts on one root would run cycles over the same files. Only the
// host takes it; orsa-reg and the programs a task runs never do, so they keep
// working while a host runs.
//
// The claim is an exclusive lock on "<root>/orsa-host.lock" (on Windows: the
// file open for writing, shared with no other writer), which also holds
// the owner's process id for the message of whoever is refused. The system
// drops the lock when its process ends, however it ends, and programs the
// owner starts do not inherit it. The file stays when the lock is released:
// removing it would let two processes lock two different files of one name.
// Not thread-safe; one thread uses an object.
#include <cstdint>
#include <string>

#include "platform/Export.h"

namespace platform {

class PLATFORM_EXPORT StateRootLock {
 public:
  enum Result {
    kAcquired,
    kHeldElsewhere,  // by another process, or another object of this one
    kFailed,         // the lock file cannot be opened or locked; see error()
  };

  StateRootLock() = default;
  ~StateRootLock();  // releases
  StateRootLock(const StateRootLock&) = delete;
  StateRootLock& operator=(const StateRootLock&) = delete;

  // Tries once and never waits. The root folder must exist. Acquiring again
  // first releases what the object holds.
  Result Acquire(const std::string& root);
  void Release();

  // After kHeldElsewhere: the owner's process id, 0 when it cannot be told.
  long owner() const { return owner_; }
  // After kFailed: the lock file and the system's reason.
  const std::string& error() const { return error_; }

 private:
  intptr_t handle_ = -1;  // the open lock file
  long owner_ = 0;
  std::string error_;
};

}  // namespace platform
