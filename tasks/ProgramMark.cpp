#include "tasks/ProgramMark.h"

#include <cstdio>

#include "platform/Clock.h"
#include "platform/Process.h"
#include "platform/StopToken.h"
#include "tasks/ProcessLauncher.h"

namespace obx {

namespace {

int64_t NowSeconds() { return platform::SystemClock().UnixTimeMs() / 1000; }

}  // namespace

ProgramMark ProgramMark::Now() {
  ProgramMark mark;
  mark.startedAt = NowSeconds();
  return mark;
}

ProgramMark ProgramMark::Parse(const std::string& text) {
  ProgramMark mark;
  long long startedAt = 0;
  int pid = 0;
  char stamp[32] = {};
  const int fields = std::sscanf(text.c_str(), "%lld %d %31s", &startedAt, &pid, stamp);
  if (fields < 1) return mark;
  mark.startedAt = startedAt;
  if (fields >= 2) mark.pid = pid;
  if (fields >= 3) mark.stamp = stamp;
  return mark;
}

std::string ProgramMark::Text() const {
  std::string text = std::to_string(startedAt) + " " + std::to_string(pid);
  if (!stamp.empty()) text += " " + stamp;
  return text;
}

bool ProgramMark::StillRunning(uint32_t limitMs, bool answered) const {
  // A clock set back since the start counts as no time passed.
  const int64_t now = NowSeconds();
  const int64_t elapsedMs = now > startedAt ? (now - startedAt) * 1000 : 0;
  if (limitMs != platform::kInfinite && elapsedMs >= limitMs) return false;
  if (pid == 0 || stamp.empty())
    return !answered && startedAt != 0 && elapsedMs < kBootProgramWaitMs;
  return platform::ProcessStartStamp(pid) == stamp;
}

}  // namespace obx
