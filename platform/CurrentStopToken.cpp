// The calling thread's quit request: the same on every system, over the
// StopToken each implementation makes.
#include <utility>

#include "platform/Clock.h"
#include "platform/StopToken.h"

namespace platform {
namespace {

// The platform is one shared library in the process, so this slot is the
// same for the host, the component and every composite: a host service that
// runs on the worker's thread sees the worker's quit request.
thread_local StopToken t_current;

}  // namespace

StopToken CurrentStopToken() { return t_current; }

ScopedStopToken::ScopedStopToken(StopToken token) : previous_(t_current) {
  t_current = std::move(token);
}

ScopedStopToken::~ScopedStopToken() { t_current = std::move(previous_); }

bool QuitRequested() { return t_current.StopRequested(); }

bool WaitFor(uint32_t ms) {
  // A copy: the clock may call back into code that changes the slot.
  StopToken token = t_current;
  return CurrentClock().Sleep(ms, token);
}

}  // namespace platform
