#include "tests/support/ManualClock.h"

#include <utility>

namespace obxtest {
namespace {

constexpr int64_t kMsPerDay = 86400000;

// Days since 1970-01-01 of a proleptic Gregorian date, and back; plain
// arithmetic so that test times do not depend on the machine's time zone.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int* year, int* month, int* day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

}  // namespace

ManualClock::ManualClock(int64_t unixTimeMs, int utcOffsetMinutes)
    : unixMs_(unixTimeMs), utcOffsetMinutes_(utcOffsetMinutes) {}

int64_t ManualClock::UnixTimeMs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return unixMs_;
}

platform::LocalTime ManualClock::Local() const {
  int64_t localMs;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    localMs = unixMs_ + static_cast<int64_t>(utcOffsetMinutes_) * 60000;
  }
  int64_t days = FloorDiv(localMs, kMsPerDay);
  int64_t inDay = localMs - days * kMsPerDay;
  platform::LocalTime local;
  CivilFromDays(days, &local.year, &local.month, &local.day);
  local.dayOfWeek = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  local.hour = static_cast<int>(inDay / 3600000);
  local.minute = static_cast<int>(inDay / 60000 % 60);
  local.second = static_cast<int>(inDay / 1000 % 60);
  local.milliseconds = static_cast<int>(inDay % 1000);
  return local;
}

uint64_t ManualClock::MonotonicMs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return monotonicMs_;
}

bool ManualClock::Sleep(uint32_t ms, const platform::StopToken& stop) {
  if (stop.StopRequested()) return false;
  std::function<void(uint32_t)> hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sleeps_.push_back(ms);
    if (ms != platform::kInfinite) {
      unixMs_ += ms;
      monotonicMs_ += ms;
    }
    hook = hook_;
  }
  if (hook) hook(ms);
  if (ms == platform::kInfinite) return false;  // an endless wait ends only by the request
  return !stop.StopRequested();
}

void ManualClock::SetLocal(const platform::LocalTime& local) {
  int64_t days = DaysFromCivil(local.year, static_cast<unsigned>(local.month),
                               static_cast<unsigned>(local.day));
  int64_t localMs = days * kMsPerDay + local.hour * 3600000LL + local.minute * 60000LL +
                    local.second * 1000LL + local.milliseconds;
  std::lock_guard<std::mutex> lock(mutex_);
  unixMs_ = localMs - static_cast<int64_t>(utcOffsetMinutes_) * 60000;
}

void ManualClock::SetUnixTimeMs(int64_t unixTimeMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  unixMs_ = unixTimeMs;
}

void ManualClock::Advance(uint64_t ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  unixMs_ += static_cast<int64_t>(ms);
  monotonicMs_ += ms;
}

void ManualClock::SetSleepHook(std::function<void(uint32_t)> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  hook_ = std::move(hook);
}

std::vector<uint32_t> ManualClock::Sleeps() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sleeps_;
}

}  // namespace obxtest
