#pragma once
// The quit request of a worker thread, and the interruptible waits that watch it.
//
// A StopSource owns one request; its StopTokens observe it. The thread that
// platform::Thread starts carries its token as the "current" token of that
// thread, so a wait deep inside any step (pause between cycles, process waits,
// transfers, server calls) sees the quit request without the token being passed
// through every signature. Threads without a current token never see a request.
// The current token is one per thread for the whole process: a host service
// running on the worker thread sees the request although it lives in the host
// executable and the worker in a library the host loaded.
#include <cstdint>
#include <memory>

#include "platform/Export.h"

namespace platform {

struct StopState;

// A native object a thread can wait on beside others: on Windows an event
// HANDLE for WaitForMultipleObjects, elsewhere a descriptor for poll().
#if defined(_WIN32)
typedef void* WaitHandle;
constexpr WaitHandle kNoWaitHandle = nullptr;
#else
typedef int WaitHandle;
constexpr WaitHandle kNoWaitHandle = -1;
#endif

// True when `handle` is signalled (a descriptor: readable) at this moment;
// never waits. False for kNoWaitHandle.
PLATFORM_EXPORT bool WaitHandleSignalled(WaitHandle handle);

// Wait length meaning "until the quit request, however long that takes".
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

class PLATFORM_EXPORT StopToken {
 public:
  // A token that is never stopped.
  StopToken() = default;

  bool StopRequested() const;
  // Blocks up to `ms` of real (monotonic) time. True when the whole time passed,
  // false as soon as the request is seen (also when it was already made).
  // kInfinite waits until the request; a never-stopped token refuses it and
  // returns false at once rather than block forever.
  bool WaitFor(uint32_t ms) const;
  // A handle that becomes signalled once the request is made, for waiting on
  // it beside other handles (a process, a socket); kNoWaitHandle for a
  // never-stopped token. Owned by the stop state; valid while this token or
  // its source lives.
  WaitHandle WaitEvent() const;
  // True for a token that belongs to some StopSource.
  bool Stoppable() const { return state_ != nullptr; }

 private:
  friend class StopSource;
  explicit StopToken(std::shared_ptr<StopState> state) : state_(std::move(state)) {}
  std::shared_ptr<StopState> state_;
};

class PLATFORM_EXPORT StopSource {
 public:
  StopSource();
  // Makes the request; wakes every wait on its tokens. Thread-safe, idempotent.
  void RequestStop();
  bool StopRequested() const;
  StopToken Token() const { return StopToken(state_); }

 private:
  std::shared_ptr<StopState> state_;
};

// The current thread's token (a never-stopped one when none was set).
PLATFORM_EXPORT StopToken CurrentStopToken();

// Makes `token` the current token of the calling thread for the life of the
// guard, restoring the previous one afterwards. Tests use it to run worker code
// on their own thread.
class PLATFORM_EXPORT ScopedStopToken {
 public:
  explicit ScopedStopToken(StopToken token);
  ~ScopedStopToken();
  ScopedStopToken(const ScopedStopToken&) = delete;
  ScopedStopToken& operator=(const ScopedStopToken&) = delete;

 private:
  StopToken previous_;
};

// True when the calling thread has been asked to quit.
PLATFORM_EXPORT bool QuitRequested();

// Waits `ms` milliseconds on the current clock (platform/Clock.h), ending early
// when the calling thread is asked to quit. True when the whole time passed,
// false when the wait was cut short by the quit request. On a thread without a
// stop token, kInfinite is refused at once (returns false) instead of hanging.
PLATFORM_EXPORT bool WaitFor(uint32_t ms);

}  // namespace platform
