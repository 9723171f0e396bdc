#include "platform/Thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/detail/ModulePin.h"

namespace platform {

struct ThreadState {
  std::mutex mutex;
  std::condition_variable cv;
  bool ended = false;
  bool abandoned = false;
  uint32_t exitCode = 0;
  uint64_t id = 0;
  StopSource stop;
  std::function<uint32_t()> routine;
  std::thread thread;  // touched only by the owning Thread object
};

namespace {

std::atomic<bool> g_failStarts{false};
std::atomic<uint64_t> g_nextId{1};

std::mutex g_abandonedMutex;
std::condition_variable g_abandonedCv;
int g_abandoned = 0;

void AbandonedThreadEnded() {
  std::lock_guard<std::mutex> lock(g_abandonedMutex);
  --g_abandoned;
  g_abandonedCv.notify_all();
}

void RunThread(std::shared_ptr<ThreadState> state) {
  uint32_t code = Thread::kExitByException;
  {
    ScopedStopToken current(state->stop.Token());
    try {
      code = state->routine();
    } catch (...) {
      // Nothing may leave a thread routine; the exit code tells the owner.
    }
    try {
      // Release what the routine captured here, on its own thread, while the
      // code it came from is certainly still loaded.
      state->routine = nullptr;
    } catch (...) {
    }
  }
  bool abandoned;
  {
    std::lock_guard<std::mutex> lock(state->mutex);
    state->ended = true;
    state->exitCode = code;
    abandoned = state->abandoned;
    state->cv.notify_all();
  }
  if (abandoned) AbandonedThreadEnded();
}

}  // namespace

Thread::Thread() = default;

Thread::~Thread() {
  if (!state_) return;
  if (Join(0)) return;
  Abandon();
}

bool Thread::Start(std::function<uint32_t()> routine) {
  if (state_ || !routine) return false;
  if (g_failStarts.load()) return false;
  try {
    auto state = std::make_shared<ThreadState>();
    state->routine = std::move(routine);
    state->id = g_nextId.fetch_add(1);
    state->thread = std::thread(RunThread, state);
    state_ = std::move(state);
    return true;
  } catch (...) {
    // No thread to be had (std::system_error), no memory, or no quit event.
    return false;
  }
}

bool Thread::Started() const { return state_ != nullptr; }

bool Thread::Ended() const {
  if (!state_) return false;
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->ended;
}

uint64_t Thread::Id() const { return state_ ? state_->id : 0; }

void Thread::RequestQuit() {
  if (state_) state_->stop.RequestStop();
}

bool Thread::Join(uint32_t timeoutMs) {
  if (!state_) return true;
  {
    std::unique_lock<std::mutex> lock(state_->mutex);
    auto ended = [this] { return state_->ended; };
    if (timeoutMs == kInfinite) {
      state_->cv.wait(lock, ended);
    } else if (!state_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ended)) {
      return false;
    }
  }
  if (state_->thread.joinable()) state_->thread.join();
  return true;
}

uint32_t Thread::ExitCode() const {
  if (!state_) return 0;
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->exitCode;
}

void Thread::Abandon() {
  if (!state_) return;
  state_->stop.RequestStop();
  bool ended;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    ended = state_->ended;
    if (!ended) {
      state_->abandoned = true;
      std::lock_guard<std::mutex> count(g_abandonedMutex);
      ++g_abandoned;
    }
  }
  if (!ended) PinModuleOf(reinterpret_cast<const void*>(&RunThread));
  if (state_->thread.joinable()) {
    if (ended)
      state_->thread.join();
    else
      state_->thread.detach();
  }
  state_.reset();
}

void Thread::FailStartsForTest(bool fail) { g_failStarts.store(fail); }

int AbandonedThreadsRunning() {
  std::lock_guard<std::mutex> lock(g_abandonedMutex);
  return g_abandoned;
}

bool WaitForAbandonedThreads(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(g_abandonedMutex);
  auto none = [] { return g_abandoned == 0; };
  if (timeoutMs == kInfinite) {
    g_abandonedCv.wait(lock, none);
    return true;
  }
  return g_abandonedCv.wait_for(lock, std::chrono::milliseconds(timeoutMs), none);
}

}  // namespace platform
