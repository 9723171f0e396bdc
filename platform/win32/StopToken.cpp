#include "platform/StopToken.h"

#include <new>

#include "platform/win32/Windows.h"

namespace platform {

// The request is one manual-reset event: set once, never reset, so every
// wait on it (WaitForSingleObject here, WaitForMultipleObjects beside a
// process or a dialog elsewhere) ends at once and for good.
struct StopState {
  HANDLE event;

  StopState() : event(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    if (event == nullptr) throw std::bad_alloc();
  }
  ~StopState() { ::CloseHandle(event); }
  StopState(const StopState&) = delete;
  StopState& operator=(const StopState&) = delete;
};

bool WaitHandleSignalled(WaitHandle handle) {
  return handle != kNoWaitHandle && ::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
}

bool StopToken::StopRequested() const { return state_ && WaitHandleSignalled(state_->event); }

bool StopToken::WaitFor(uint32_t ms) const {
  if (!state_) {
    if (ms == kInfinite) return false;
    ::Sleep(ms);
    return true;
  }
  // kInfinite is INFINITE. The wait runs on the system's tick count, which a
  // change of the wall clock does not move.
  return ::WaitForSingleObject(state_->event, ms) == WAIT_TIMEOUT;
}

WaitHandle StopToken::WaitEvent() const { return state_ ? state_->event : kNoWaitHandle; }

StopSource::StopSource() : state_(std::make_shared<StopState>()) {}

void StopSource::RequestStop() { ::SetEvent(state_->event); }

bool StopSource::StopRequested() const { return WaitHandleSignalled(state_->event); }

}  // namespace platform
