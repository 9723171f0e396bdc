#include "tasks/SystemCollaborators.h"

#include <string>

#include "foundation/Digest.h"
#include "foundation/SettingsStore.h"
#include "platform/Process.h"
#include "platform/StopToken.h"
#include "tasks/PatchFileLocation.h"
#include "tasks/ProgramMark.h"
#include "transfer/OBXDownLoader.h"

namespace obx {

bool SystemDownloads::Fetch(const std::string& url, const std::string& types,
                            const std::string& fileName, const std::string& md5,
                            const std::string& sha256, std::string& usedType) {
  return DownLoadFile(url, types, fileName, md5, usedType, sha256);
}

bool SystemDownloads::HoldsExpected(const std::string& path, const std::string& md5,
                                    const std::string& sha256) {
  // The copy may have been changed, or replaced by another task's file of the
  // same name, since it was downloaded.
  return IsSafeFileName(path.substr(path.rfind('\\') + 1)) && FileMatchesDigests(path, md5, sha256);
}

bool SystemLauncher::Run(const std::string& commandLine, uint32_t waitMs, ProgramRun& run) {
  return RunProcess(commandLine, waitMs, run);
}

std::string SystemLauncher::NewStartNote() { return ProgramMark::Now().Text(); }

std::string SystemLauncher::NoteWithProcess(const std::string& note, int pid) {
  ProgramMark mark = ProgramMark::Parse(note);
  mark.pid = pid;
  mark.stamp = platform::ProcessStartStamp(pid);
  return mark.Text();
}

bool SystemLauncher::StillRunning(const std::string& note, uint32_t limitMs, bool answered) {
  return ProgramMark::Parse(note).StillRunning(limitMs, answered);
}

bool SystemClock::Wait(uint32_t ms) { return platform::WaitFor(ms); }

PatchMessageOutcome SystemPrompt::Ask(const PolicyEntry& policy) {
  return ShowPatchMessage(policy);
}

bool ServerKeySet() { return !ReadRegString(HKLM, kModuleKey, "ServerKey").empty(); }

}  // namespace obx
