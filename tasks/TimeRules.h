#pragma once
// When a task may act: the hour window of its downloads, its deadline and the
// delay before its patch program starts. All three read the task's entry in
// the policy store afresh at every call and write nothing; times come from the
// injectable clock (platform/Clock.h).
//
// Numbers in the policy texts are read as atoi reads them (AtoI). Messages go
// to channel "OBXConsole" with source "TaskManager".
//
// Threads: the worker thread; nothing is kept between calls.
#include <cstdint>
#include <string>

#include "foundation/PatchPolicyManager.h"
#include "records/TaskRecord.h"

namespace obx {

// True when task `id` may download now: `bootdownload`/`validtime`
// (`forBootFile`) or `download`/`validtime` is empty, or malformed (not two
// numbers joined by "-"; logged as an error), or holds start and end with
// start <= current local hour < end. No window wraps past midnight (22-6
// admits no hour).
bool CheckTimeWindow(const PatchPolicyManager& policy, const std::string& id, bool forBootFile);
bool CheckTimeWindow(const PolicyEntry& policy, Program program);

// True when the deadline of task `id` (`exec`/`deadlinetime`, local
// "year-month-day hour:minute", out-of-range fields normalised as mktime does)
// lies before now + `lookAheadSeconds`, or when the task has none. A deadline
// that does not give five numbers, or that names no representable local time,
// is logged as an error and counts as none.
bool CheckDeadline(const PatchPolicyManager& policy, const std::string& id,
                   int32_t lookAheadSeconds);
bool CheckDeadline(const PolicyEntry& policy, int32_t lookAheadSeconds);

// The start delay of task `id` in milliseconds: `exec`/`firstruntime` hours
// plus a random part of 0 to `exec`/`randomtime` hours, drawn by the Windows C
// library generator seeded with the current second (so two calls within one
// second agree). A delay beyond the 32-bit range is held at its limit rather
// than wrapped. Always true.
bool GetStartDelay(const PatchPolicyManager& policy, const std::string& id, int32_t& delayMs);
bool GetStartDelay(const PolicyEntry& policy, int32_t& delayMs);

// The first draw, 0 to 32767, of the Windows C library generator seeded with
// `seed`: state = state * 214013 + 2531011 (mod 2^32), draw = bits 16 to 30.
int FirstRandomDraw(uint32_t seed);

}  // namespace obx
