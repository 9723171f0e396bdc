#include "tasks/TimeRules.h"

#include <cctype>
#include <cstdint>
#include <ctime>
#include <limits>
#include <vector>

#include "foundation/Log.h"
#include "foundation/StringUtil.h"
#include "platform/Clock.h"
#include "records/TaskRecord.h"

namespace obx {

namespace {

constexpr int64_t kMsPerHour = 3600000;

int32_t Saturate(double ms) {
  if (ms >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (ms <= std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(ms);  // truncates towards zero
}

// Reads one "%d" of scanf at `at`: white space, a sign, digits. False when
// there are no digits or the number leaves the int range.
bool ScanInt(const std::string& text, size_t& at, int& value) {
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  const size_t start = at;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
  int64_t magnitude = 0;
  const size_t digits = at;
  for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
    magnitude = magnitude * 10 + (text[at] - '0');
    if (magnitude > std::numeric_limits<int>::max()) return false;
  }
  if (at == digits) return false;
  value = static_cast<int>(text[start] == '-' ? -magnitude : magnitude);
  return true;
}

bool ScanLiteral(const std::string& text, size_t& at, char c) {
  if (at >= text.size() || text[at] != c) return false;
  ++at;
  return true;
}

// "%d-%d-%d %d:%d" as sscanf matches it: all five numbers or nothing.
bool ScanDeadline(const std::string& text, int fields[5]) {
  size_t at = 0;
  return ScanInt(text, at, fields[0]) && ScanLiteral(text, at, '-') &&
         ScanInt(text, at, fields[1]) && ScanLiteral(text, at, '-') &&
         ScanInt(text, at, fields[2]) && ScanInt(text, at, fields[3]) &&
         ScanLiteral(text, at, ':') && ScanInt(text, at, fields[4]);
}

// The local time of the five fields, with the system's daylight-saving
// decision, as seconds since 1970; false when mktime cannot form it.
bool DeadlineSeconds(const int fields[5], int64_t& seconds) {
  if (fields[0] < std::numeric_limits<int>::min() + 1900) return false;
  std::tm local{};
  local.tm_year = fields[0] - 1900;
  local.tm_mon = fields[1] - 1;
  local.tm_mday = fields[2];
  local.tm_hour = fields[3];
  local.tm_min = fields[4];
  local.tm_sec = 0;
  local.tm_isdst = -1;
  const std::time_t formed = std::mktime(&local);
  if (formed == static_cast<std::time_t>(-1)) return false;
  seconds = static_cast<int64_t>(formed);
  return true;
}

}  // namespace

int FirstRandomDraw(uint32_t seed) {
  const uint32_t state = seed * 214013u + 2531011u;
  return static_cast<int>((state >> 16) & 0x7FFF);
}

bool CheckTimeWindow(const PatchPolicyManager& policy, const std::string& id, bool forBootFile) {
  return CheckTimeWindow(PolicyEntry(policy, id), forBootFile ? Program::kBoot : Program::kPatch);
}

bool CheckTimeWindow(const PolicyEntry& policy, Program program) {
  const std::string& id = policy.Id();
  const std::string window = policy.DownloadWindow(program);
  if (window.empty()) return true;
  const std::vector<std::string> bounds = SplitString(window, "-");
  if (bounds.size() != 2) {
    OBX_ERROR("OBXConsole", "TaskManager",
              "Check time Window  for:" << id << " wrong time window in policy");
    return true;
  }
  const int start = AtoI(bounds[0]);
  const int end = AtoI(bounds[1]);
  const int hour = platform::GetLocalTime().hour;
  return start <= hour && hour < end;
}

bool CheckDeadline(const PatchPolicyManager& policy, const std::string& id,
                   int32_t lookAheadSeconds) {
  return CheckDeadline(PolicyEntry(policy, id), lookAheadSeconds);
}

bool CheckDeadline(const PolicyEntry& policy, int32_t lookAheadSeconds) {
  const std::string& id = policy.Id();
  const std::string deadline = policy.Deadline();
  if (deadline.empty()) return true;
  int fields[5] = {0, 0, 0, 0, 0};
  int64_t deadlineSeconds = 0;
  if (!ScanDeadline(deadline, fields) || !DeadlineSeconds(fields, deadlineSeconds)) {
    // Whatever mktime made of it would be an arbitrary moment; the task is
    // treated as having no deadline instead.
    OBX_ERROR("OBXConsole", "TaskManager",
              "CheckDeadline:task " << id << " wrong deadlinetime in policy: " << deadline);
    return true;
  }
  const int64_t past = platform::UnixTimeSeconds() + lookAheadSeconds - deadlineSeconds;
  if (past <= 0) return false;
  OBX_INFO("OBXConsole", "TaskManager", "RunTaskList:task " << id << " go in deadline");
  return true;
}

bool GetStartDelay(const PatchPolicyManager& policy, const std::string& id, int32_t& delayMs) {
  return GetStartDelay(PolicyEntry(policy, id), delayMs);
}

bool GetStartDelay(const PolicyEntry& policy, int32_t& delayMs) {
  const std::string first = policy.FirstRunHours();
  const std::string random = policy.RandomHours();
  // Exact in 64 bits; only the result is held to the 32-bit range.
  double delay = static_cast<double>(AtoI(first) * kMsPerHour);
  const int randomHours = AtoI(random);
  if (!random.empty() && randomHours != 0) {
    const int64_t span = randomHours * kMsPerHour;
    const uint32_t seed = static_cast<uint32_t>(platform::UnixTimeSeconds());
    delay += FirstRandomDraw(seed) / 32767.0 * static_cast<double>(span);
  }
  delayMs = Saturate(delay);
  return true;
}

}  // namespace obx
