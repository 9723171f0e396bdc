// The task runner's two stages: the boot program and the patch program.
#include <cstdint>
#include <string>

#include "foundation/Digest.h"
#include "foundation/Log.h"
#include "foundation/SettingsStore.h"
#include "foundation/StringUtil.h"
#include "platform/Process.h"
#include "platform/StopToken.h"
#include "tasks/PatchFileLocation.h"
#include "tasks/PatchMessage.h"
#include "tasks/ProcessLauncher.h"
#include "tasks/ProgramMark.h"
#include "tasks/TaskManager.h"
#include "tasks/TimeRules.h"
#include "transfer/OBXDownLoader.h"

namespace obx {

namespace {

const char kChannel[] = "OBXConsole";
const char kSource[] = "TaskManager";

// True when the file at `path` is there with the policy's digests (the
// SHA-256 only when the policy gives one). A program is started only then: the
// copy in the update folder may have been changed, or replaced by another
// task's file of the same name, since it was downloaded.
bool HoldsExpectedProgram(const std::string& path, const std::string& md5,
                          const std::string& sha256) {
  return IsSafeFileName(path.substr(path.rfind('\\') + 1)) && FileMatchesDigests(path, md5, sha256);
}

// With the server's key set the policy is signed, but a signature over an MD5
// alone pins nothing: another file with the same MD5 is cheap to make. Such a
// task is refused (logged) instead of fetched or run.
bool RefusedWithoutSha256(const std::string& stage, const std::string& id,
                          const std::string& sha256) {
  // The setting the server key is read from (kServerKeyValue); any text in it
  // means a key is set, usable or not.
  if (!sha256.empty() || ReadRegString(HKLM, kModuleKey, "ServerKey").empty()) return false;
  OBX_WARNING(kChannel, kSource,
              stage << ":task " << id
                    << " refused: its file has no sha256 in the policy and a server key is set");
  return true;
}

}  // namespace

bool TaskManager::BootFile(const std::string& id) {
  OBX_INFO(kChannel, kSource, "BootFile:task " << id << " run boot program");
  const std::string regPatchId = PatchInfoKey(id);
  TaskRecord task = Task(id);
  const PolicyEntry& offer = task.Policy();
  const std::string url = offer.Url(Program::kBoot);
  if (url.empty()) {
    OBX_INFO(kChannel, kSource,
             "BootFile:task " << id << " could not downloaded bootfile for URL is null");
    return false;
  }
  const std::string bootSaveFileName = GetFileNameFromUrl(url);
  const std::string bootSaveFilePath = fileSavedPath_ + "\\" + bootSaveFileName;
  const std::string md5 = offer.Md5(Program::kBoot);
  const std::string sha256 = offer.Sha256(Program::kBoot);
  if (RefusedWithoutSha256("BootFile", id, sha256)) return false;

  if (task.Download(Program::kBoot) == DownloadState::kToDownload) {
    if (!CheckTimeWindow(policy_, id, true)) {
      OBX_INFO(kChannel, kSource, "BootFile:task " << id << " is not in download time window");
      return false;
    }
    OBX_INFO(kChannel, kSource, "BootFile:task " << id << " has not downloaded bootfile");
    if (md5.empty()) {
      OBX_INFO(kChannel, kSource, "BootFile:task " << id << " md5 is null");
      return false;
    }
    const std::string types = offer.DownloadTypes(Program::kBoot);
    if (types.empty()) {
      OBX_INFO(kChannel, kSource, "BootFile:task " << id << " downloadType is Null");
      return false;
    }
    OBX_INFO(kChannel, kSource, "BootFile:task " << id << " downloadType is " << types);
    std::string usedType;
    SaveBeforeActing();
    if (!DownLoadFile(url, types, bootSaveFileName, md5, usedType, sha256)) {
      OBX_INFO(kChannel, kSource, "BootFile: " << url << " downloaded bootfile failed");
      return false;
    }
    OBX_INFO(kChannel, kSource, "BootFile:task " << id << " downloaded successful");
    task.MarkDownloaded(Program::kBoot, usedType);
  }

  const BootVerdict verdict = task.Verdict();
  const std::string patchFile = ReadRegString(HKLM, regPatchId, "patchFile");
  const std::string patchFileMd5 = ReadRegString(HKLM, regPatchId, "patchFileMD5");
  if (verdict == BootVerdict::kTrue) {
    if (!patchFile.empty() || !patchFileMd5.empty()) {
      OBX_INFO(kChannel, kSource, "BootFile:bootfile resule=true and have patchFile");
      return true;
    }
    OBX_INFO(kChannel, kSource, "BootFile:bootfile resule=true and no patchFile");
    return false;
  }
  if (verdict == BootVerdict::kFalse) {
    OBX_INFO(kChannel, kSource, "BootFile:bootfile executed already. result=false");
    return false;
  }

  const std::string note = task.StartNote(Program::kBoot);
  if (!note.empty()) {
    // Started by an earlier walk that ended before the answer: not again.
    // Cleared before the start: any verdict in it is the program's.
    const bool answered = !ReadRegString(HKLM, regPatchId, "bootCheckResult").empty();
    if (ProgramMark::Parse(note).StillRunning(kBootProgramWaitMs, answered)) {
      OBX_INFO(kChannel, kSource,
               "BootFile:task " << id << " boot program still running, its verdict waits");
      return false;
    }
    OBX_INFO(
        kChannel, kSource,
        "BootFile:task " << id << " boot program started before has ended, its verdict is read");
    StoreBootVerdict(id);
    return true;
  }

  if (!HoldsExpectedProgram(bootSaveFilePath, md5, sha256)) {
    OBX_WARNING(kChannel, kSource,
                "BootFile:task " << id << " " << bootSaveFilePath << " does not match its md5 "
                                 << md5 << (sha256.empty() ? "" : " or sha256 " + sha256)
                                 << ", it is downloaded again");
    task.MarkToDownload(Program::kBoot);
    return false;
  }
  OBX_INFO(kChannel, kSource,
           "BootFile:task " << bootSaveFilePath << " waiting for boot file result");
  WriteRegString(HKLM, regPatchId, "bootCheckResult", "");
  ProgramRun run;
  NoteProgramStart(id, Program::kBoot, run);
  const bool ran =
      RunProcess(MakeCommandLine(bootSaveFilePath, QuoteArgument(id)), kBootProgramWaitMs, run);
  if (run.outcome == platform::WaitResult::kStopped) {
    // Not a failure: the program had no time to answer. Its start stays noted,
    // so a later walk reads its verdict instead of running it again.
    OBX_INFO(
        kChannel, kSource,
        "BootFile:task " << id
                         << " boot program still running, left to finish: the agent is stopping");
    return false;
  }
  if (!ran) OBX_INFO(kChannel, kSource, "BootFile:task " << id << " boot file running failed ");
  // Whatever the program left by now, also nothing, is the verdict.
  StoreBootVerdict(id);
  return ran;
}

void TaskManager::StoreBootVerdict(const std::string& id) {
  const std::string result = ReadRegString(HKLM, PatchInfoKey(id), "bootCheckResult");
  TaskRecord task = Task(id);
  task.SetBootVerdict(result);
  // A boot-only task keeps its note until its record is handed over.
  if (!(task.Policy().BootOnly() && task.Verdict() == BootVerdict::kTrue))
    task.ClearStartNote(Program::kBoot);
}

bool TaskManager::DoPatchFile(const std::string& id) {
  OBX_INFO(kChannel, kSource, "DoPatchFile:task " << id << " run Patch program");
  const std::string regPatchId = PatchInfoKey(id);
  TaskRecord task = Task(id);
  const PolicyEntry& offer = task.Policy();
  if (task.Execute() != ExecuteState::kToBeExecuted) {
    OBX_INFO(kChannel, kSource, "DoPatchFile:task " << id << " no need to run again");
    return false;
  }

  std::string patchFileMd5 = ReadRegString(HKLM, regPatchId, "patchFileMD5");
  const std::string patchFileTails = ReadRegString(HKLM, regPatchId, "patchFile");
  const std::string patchFileUrl =
      GetPatchFileUrl(patchFileTails, patchFileMd5, offer.Url(Program::kPatch),
                      offer.PatchFileNames(), offer.Md5(Program::kPatch));
  if (patchFileUrl.empty() || patchFileMd5.empty()) {
    OBX_INFO(kChannel, kSource, "DoPatchFile:task " << id << " md5 or patch file error");
    return false;
  }
  std::string sha256;
  if (!PatchFileSha256(patchFileUrl, offer.Url(Program::kPatch), offer.Sha256(Program::kPatch),
                       sha256))
    return false;
  if (RefusedWithoutSha256("DoPatchFile", id, sha256)) return false;
  const std::string patchSaveFileName = GetFileNameFromUrl(patchFileUrl);
  const std::string savePatchfilePatch = fileSavedPath_ + "\\" + patchSaveFileName;

  if (task.Download(Program::kPatch) == DownloadState::kToDownload) {
    if (!CheckTimeWindow(policy_, id, false)) {
      OBX_INFO(kChannel, kSource, "DoPatchFile:task " << id << " is not in download time window");
      return false;
    }
    OBX_INFO(kChannel, kSource, "DoPatchFile:task " << id << " download patch file");
    const std::string types = offer.DownloadTypes(Program::kPatch);
    if (types.empty()) {
      OBX_INFO(kChannel, kSource, "PatchFile:task " << id << " downloadType is Null");
      return false;
    }
    OBX_INFO(kChannel, kSource, "PatchFile:task " << id << " downloadType is " << types);
    std::string downLoadtype;
    SaveBeforeActing();
    if (!DownLoadFile(patchFileUrl, types, patchSaveFileName, patchFileMd5, downLoadtype, sha256)) {
      OBX_INFO(kChannel, kSource, "DoPatchFile:task " << id << " download patch file failed");
      return false;
    }
    task.MarkDownloaded(Program::kPatch, downLoadtype);
    OBX_INFO(kChannel, kSource, "DoPatchFile:task " << id << "  patch file was downloaded");
  }
  return RunPatchProgram(id, regPatchId, savePatchfilePatch, patchFileMd5, sha256);
}

bool TaskManager::CheckPatchFile(const std::string& id, const std::string& programPath,
                                 const std::string& md5, const std::string& sha256) {
  if (HoldsExpectedProgram(programPath, md5, sha256)) return true;
  OBX_WARNING(kChannel, kSource,
              "DoPatchFile:task " << id << " " << programPath << " does not match its md5 " << md5
                                  << (sha256.empty() ? "" : " or sha256 " + sha256)
                                  << ", it is downloaded again");
  Task(id).MarkToDownload(Program::kPatch);
  return false;
}

bool TaskManager::RunPatchProgram(const std::string& id, const std::string& regPatchId,
                                  const std::string& programPath, const std::string& md5,
                                  const std::string& sha256) {
  // Before anyone waits or is asked: a missing or changed copy is fetched
  // again first.
  if (!CheckPatchFile(id, programPath, md5, sha256)) return false;
  int32_t sleepTime = 0;
  TaskRecord task = Task(id);
  if (task.Policy().HasStartDelay()) {
    if (!GetStartDelay(policy_, id, sleepTime)) {
      OBX_INFO(kChannel, kSource, "DoPatchFile:task " << id << " :not in Time Windows");
      return false;
    }
    // A negative delay (a negative firstruntime) means "now"; as an unsigned
    // wait it would last some 49 days.
    if (sleepTime < 0) sleepTime = 0;
    OBX_INFO(kChannel, kSource, "DoPatchFile:task " << id << " :start in ::" << sleepTime);
  }
  if (!CheckDeadline(policy_, id, sleepTime / 1000)) {
    OBX_INFO(kChannel, kSource, "DoPatchFile:task " << id << "  patch has not been in deadline");
    return false;
  }

  OBX_INFO(kChannel, kSource,
           "DoPatchFile:task " << id << "  patch waiting for patch file installation");
  WriteRegString(HKLM, regPatchId, "Result1", "Running ...");
  SaveBeforeActing();
  if (!platform::WaitFor(static_cast<uint32_t>(sleepTime))) {
    OBX_INFO(kChannel, kSource,
             "DoPatchFile:task " << id << " start delay cut short: the agent is stopping");
    return false;
  }

  // The task stays pending until the user has said no or the program has
  // answered: its start note, not the status, keeps it from a second start.
  switch (ShowPatchMessage(policy_, id)) {
    case PatchMessageOutcome::kCancelled:
      task.MarkDone();
      WriteRegString(HKLM, regPatchId, "Result1", " cancelled by user");
      return true;
    case PatchMessageOutcome::kStopped:
      OBX_INFO(kChannel, kSource,
               "DoPatchFile:task " << id << " left "
                                   << ExecuteStateText(ExecuteState::kToBeExecuted)
                                   << ": the agent is stopping");
      return false;
    case PatchMessageOutcome::kNotShown:
      return false;  // logged; asked again in a later cycle
    case PatchMessageOutcome::kNoMessage:
    case PatchMessageOutcome::kOk:
      break;
  }

  if (!CheckPatchFile(id, programPath, md5, sha256)) return false;
  const std::string runArgs = task.Policy().RunArguments();
  const std::string arguments = QuoteArgument(id);
  const std::string commandLine =
      MakeCommandLine(programPath, runArgs.empty() ? arguments : arguments + " " + runArgs);
  OBX_INFO(kChannel, kSource, "DoPatchFile: " << commandLine << " will start");
  ProgramRun run;
  NoteProgramStart(id, Program::kPatch, run);
  RunProcess(commandLine, platform::kInfinite, run);
  if (run.outcome == platform::WaitResult::kStopped) {
    // Cutting an installer short is worse than letting it end. Its start
    // stays noted: a later walk reports its result once it has ended.
    OBX_INFO(kChannel, kSource,
             "DoPatchFile:task "
                 << id << " patch program still running, left to finish: the agent is stopping");
    return false;
  }
  // A program that could not start says so in its result, not "Running ...".
  if (!run.failure.empty()) WriteRegString(HKLM, regPatchId, "Result1", run.failure);
  if (ReadRegString(HKLM, regPatchId, "repeate") == "true")
    task.MarkPending();
  else
    task.MarkDone();
  return true;
}

}  // namespace obx
