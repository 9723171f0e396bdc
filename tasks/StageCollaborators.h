#pragma once
// What the boot and patch stages work with besides the task record: small
// interfaces, so that a stage's rules can be tried with fakes. The real ones,
// on the update folder, the downloader, the system's processes, the clock and
// the prompt, are in tasks/SystemCollaborators.h.
//
// Threads: the worker thread, for one stage at a time.
#include <cstdint>
#include <functional>
#include <string>

#include "records/TaskRecord.h"
#include "tasks/PatchMessage.h"
#include "tasks/ProcessLauncher.h"
#include "tasks/TaskValues.h"

namespace obx {

// The task's files in the update folder.
class Downloads {
 public:
  virtual ~Downloads() = default;
  // Fetches `url` into the update folder as `fileName` by the first of the
  // ";"-separated `types` that works and gives the digests; `usedType` tells
  // which. False when none did (nothing is left in the folder then).
  virtual bool Fetch(const std::string& url, const std::string& types, const std::string& fileName,
                     const std::string& md5, const std::string& sha256, std::string& usedType) = 0;
  // True when `path` is a file with a name Windows allows and these digests
  // (the SHA-256 only when given). A program is started only then.
  virtual bool HoldsExpected(const std::string& path, const std::string& md5,
                             const std::string& sha256) = 0;
};

// Starting the task's programs and keeping track of them across walks.
class ProgramLauncher {
 public:
  virtual ~ProgramLauncher() = default;
  // As RunProcess: true when the program ended within `waitMs`.
  virtual bool Run(const std::string& commandLine, uint32_t waitMs, ProgramRun& run) = 0;
  // The start note of a program about to start, and the same note with the
  // process it became (tasks/ProgramMark.h).
  virtual std::string NewStartNote() = 0;
  virtual std::string NoteWithProcess(const std::string& note, int pid) = 0;
  // Whether the program of `note` may still run (ProgramMark::StillRunning).
  virtual bool StillRunning(const std::string& note, uint32_t limitMs, bool answered) = 0;
};

// Waiting for the start delay.
class StageClock {
 public:
  virtual ~StageClock() = default;
  // Waits `ms`; false when the agent's quit request cut the wait short.
  virtual bool Wait(uint32_t ms) = 0;
};

// The question before a patch program starts.
class PatchPrompt {
 public:
  virtual ~PatchPrompt() = default;
  virtual PatchMessageOutcome Ask(const PolicyEntry& policy) = 0;
};

// Everything a stage needs besides the task record.
struct StageCollaborators {
  Downloads& downloads;
  ProgramLauncher& launcher;
  TaskValues& values;
  StageClock& clock;
  PatchPrompt& prompt;
  // Writes the walk's held-back state; called before anything that leaves
  // the walk (a transfer, the start delay, a program start).
  std::function<void()> beforeActing;
  // The update folder (Windows-style), where the task's files lie.
  std::string updateFolder;
  // A server key is set: the policy is signed, and a file without a SHA-256
  // in it is refused.
  bool serverKeySet = false;
};

// Notes in the task record that `program` is about to start (written at once
// through `with.beforeActing`), and has `run` add its process once it runs.
void NoteProgramStart(TaskRecord& task, Program program, ProgramRun& run, StageCollaborators& with);

// With a server key, a signature over an MD5 alone pins nothing: another file
// with the same MD5 is cheap to make. True (logged, `stage` naming the stage)
// when such a task must be refused instead of fetched or run.
bool RefusedWithoutSha256(const char* stage, const std::string& id, const std::string& sha256,
                          const StageCollaborators& with);

}  // namespace obx
