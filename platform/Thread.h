#pragma once
// A worker thread with a quit request.
//
// The routine runs with the thread's StopToken as its current token, so every
// platform::WaitFor inside it ends as soon as RequestQuit is called. Nothing
// thrown by the routine leaves the thread: an exception ends the routine with
// exit code kExitByException.
//
// Forced end. A single thread cannot be killed safely on Linux (pthread_cancel
// would unwind through code that was never written for it and skip unlocks).
// So Abandon(), the last resort after a timed-out Join, keeps the quit request
// in force, detaches the thread and lets it end at its next wait, where every
// wait now returns at once. The code the thread runs is pinned in memory
// (its shared library is marked never to be unloaded), so unloading the
// component cannot pull the code from under it. Files are only ever replaced
// atomically, so whatever the thread was writing is either whole or absent.
//
// Signals (POSIX). A new thread starts with the signal mask of the thread
// that made it, and orsa-host blocks SIGTERM and SIGINT in every thread (only
// its main thread takes them, with sigwait). A process started from such a
// thread keeps that mask across exec, so the process launcher must give the
// child an empty mask (posix_spawn with POSIX_SPAWN_SETSIGMASK); otherwise a
// task program could not be stopped by SIGTERM or interrupted with SIGINT.
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/Export.h"
#include "platform/StopToken.h"

namespace platform {

struct ThreadState;

class PLATFORM_EXPORT Thread {
 public:
  static constexpr uint32_t kExitByException = 0xFFFFFFFFu;

  Thread();
  // A thread still running is asked to quit and abandoned, never waited for
  // here; call RequestQuit and Join first for an orderly end.
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts `routine` on a new thread at once. False when the thread could not
  // be created, or when this object already started one.
  bool Start(std::function<uint32_t()> routine);
  // True once Start succeeded (also after the routine has returned), until
  // Abandon.
  bool Started() const;
  // True when a started routine has returned.
  bool Ended() const;
  // Positive, unique within the process; 0 when not started.
  uint64_t Id() const;

  // Posts the quit request. Thread-safe; may be called from any thread.
  void RequestQuit();
  // Waits up to `timeoutMs` of real time for the routine to return (kInfinite:
  // no limit) and reaps the thread. True when it ended. Does not use the
  // injectable clock, so tests with a manual clock still get real time-outs.
  bool Join(uint32_t timeoutMs);
  // The routine's exit code; 0 until it ended.
  uint32_t ExitCode() const;
  // Last resort when Join timed out: see the file comment. Afterwards the
  // object holds no thread and can start a new one.
  void Abandon();

  // Test hook: while set, Start fails as if the system refused a new thread.
  static void FailStartsForTest(bool fail);

 private:
  std::shared_ptr<ThreadState> state_;
};

// Threads abandoned by Abandon() whose routine has not returned yet.
PLATFORM_EXPORT int AbandonedThreadsRunning();
// Waits up to `timeoutMs` of real time until no abandoned thread runs; true then.
PLATFORM_EXPORT bool WaitForAbandonedThreads(uint32_t timeoutMs);

}  // namespace platform
