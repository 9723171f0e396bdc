#pragma once
// The stages' collaborators on the real machine: the downloader and the
// update folder, the system's processes, the platform's clock and prompt.
#include <cstdint>
#include <string>

#include "tasks/StageCollaborators.h"

namespace obx {

class SystemDownloads : public Downloads {
 public:
  bool Fetch(const std::string& url, const std::string& types, const std::string& fileName,
             const std::string& md5, const std::string& sha256, std::string& usedType) override;
  bool HoldsExpected(const std::string& path, const std::string& md5,
                     const std::string& sha256) override;
};

class SystemLauncher : public ProgramLauncher {
 public:
  bool Run(const std::string& commandLine, uint32_t waitMs, ProgramRun& run) override;
  std::string NewStartNote() override;
  std::string NoteWithProcess(const std::string& note, int pid) override;
  bool StillRunning(const std::string& note, uint32_t limitMs, bool answered) override;
};

class SystemClock : public StageClock {
 public:
  bool Wait(uint32_t ms) override;
};

class SystemPrompt : public PatchPrompt {
 public:
  PatchMessageOutcome Ask(const PolicyEntry& policy) override;
};

// Whether the module key holds a server key (ServerKey; any text counts, usable or not).
bool ServerKeySet();

}  // namespace obx
