#include "platform/StopToken.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace platform {

struct StopState {
  std::mutex mutex;
  std::condition_variable cv;
  std::atomic<bool> stopped{false};
  int eventFd = -1;  // made on first demand; signalled once, never drained

  ~StopState() {
    if (eventFd >= 0) ::close(eventFd);
  }
};

namespace {

void SignalEventFd(int fd) {
  uint64_t one = 1;
  // The counter only has to become non-zero; a failed write (counter full)
  // leaves it readable too.
  ssize_t written = ::write(fd, &one, sizeof one);
  (void)written;
}

}  // namespace

bool WaitHandleSignalled(WaitHandle handle) {
  if (handle < 0) return false;
  pollfd fd{handle, POLLIN, 0};
  return ::poll(&fd, 1, 0) == 1 && (fd.revents & POLLIN) != 0;
}

bool StopToken::StopRequested() const {
  return state_ && state_->stopped.load(std::memory_order_acquire);
}

bool StopToken::WaitFor(uint32_t ms) const {
  if (!state_) {
    if (ms == kInfinite) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return true;
  }
  std::unique_lock<std::mutex> lock(state_->mutex);
  auto stopped = [this] { return state_->stopped.load(std::memory_order_acquire); };
  if (ms == kInfinite) {
    state_->cv.wait(lock, stopped);
    return false;
  }
  // wait_until on the steady clock: a wall-clock jump neither shortens nor
  // stretches the pause.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  return !state_->cv.wait_until(lock, deadline, stopped);
}

WaitHandle StopToken::WaitEvent() const {
  if (!state_) return kNoWaitHandle;
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->eventFd < 0) {
    state_->eventFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (state_->eventFd >= 0 && state_->stopped.load(std::memory_order_acquire))
      SignalEventFd(state_->eventFd);
  }
  return state_->eventFd;
}

StopSource::StopSource() : state_(std::make_shared<StopState>()) {}

void StopSource::RequestStop() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->stopped.exchange(true, std::memory_order_acq_rel)) return;
  if (state_->eventFd >= 0) SignalEventFd(state_->eventFd);
  state_->cv.notify_all();
}

bool StopSource::StopRequested() const { return state_->stopped.load(std::memory_order_acquire); }

}  // namespace platform
