#pragma once
// What a task keeps in its task-list entry of a program it has started and not
// yet answered for: written before the start, so that no later walk (after a
// stop or a kill of the agent) starts the program again, and so that it knows
// when to read the program's answer from the registry. Stored as
// "<start, Unix seconds> <process id> <process start stamp>"; the id is 0 and
// the stamp missing until the start is known.
//
// Threads: a value type; StillRunning asks the system.
#include <cstdint>
#include <string>

namespace obx {

struct ProgramMark {
  int64_t startedAt = 0;  // Unix seconds, real time
  int pid = 0;
  std::string stamp;  // platform::ProcessStartStamp of the program

  // A mark for a program about to start, now.
  static ProgramMark Now();
  // The mark stored as `text`; a text that does not read gives a mark of time
  // 0 and no process, which counts as long ended.
  static ProgramMark Parse(const std::string& text);
  std::string Text() const;

  // True while the program may still run: its process (same id, same start)
  // is there and `limitMs` (platform::kInfinite: none) has not passed since
  // the start. Without a process id (the agent ended between noting the start
  // and noting the process) only the program's own trace tells: it counts as
  // running until `answered` (the caller saw the program's answer in the
  // registry) or until the boot program's time limit has passed.
  bool StillRunning(uint32_t limitMs, bool answered) const;
};

}  // namespace obx
