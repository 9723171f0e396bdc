#include "tasks/PatchStage.h"

#include <cstdint>
#include <string>

#include "foundation/Log.h"
#include "foundation/StringUtil.h"
#include "platform/Process.h"
#include "platform/StopToken.h"
#include "tasks/PatchFileLocation.h"
#include "tasks/ProcessLauncher.h"
#include "tasks/TimeRules.h"

namespace obx {

namespace {

const char kChannel[] = "OBXConsole";
const char kSource[] = "TaskManager";

}  // namespace

bool PatchStage::Run() {
  const std::string& id = task_.Id();
  const PolicyEntry& offer = task_.Policy();
  OBX_INFO(kChannel, kSource, "DoPatchFile:task " << id << " run Patch program");
  if (task_.Execute() != ExecuteState::kToBeExecuted) {
    OBX_INFO(kChannel, kSource, "DoPatchFile:task " << id << " no need to run again");
    return false;
  }

  std::string md5 = with_.values.PatchFileMd5();
  const std::string url = GetPatchFileUrl(with_.values.PatchFile(), md5, offer.Url(Program::kPatch),
                                          offer.PatchFileNames(), offer.Md5(Program::kPatch));
  if (url.empty() || md5.empty()) {
    OBX_INFO(kChannel, kSource, "DoPatchFile:task " << id << " md5 or patch file error");
    return false;
  }
  std::string sha256;
  if (!PatchFileSha256(url, offer.Url(Program::kPatch), offer.Sha256(Program::kPatch), sha256))
    return false;
  if (RefusedWithoutSha256("DoPatchFile", id, sha256, with_)) return false;
  const std::string fileName = GetFileNameFromUrl(url);
  if (task_.Download(Program::kPatch) == DownloadState::kToDownload &&
      !Download(url, fileName, md5, sha256))
    return false;
  return RunProgram(with_.updateFolder + "\\" + fileName, md5, sha256);
}

bool PatchStage::Download(const std::string& url, const std::string& fileName,
                          const std::string& md5, const std::string& sha256) {
  const std::string& id = task_.Id();
  if (!CheckTimeWindow(task_.Policy(), Program::kPatch)) {
    OBX_INFO(kChannel, kSource, "DoPatchFile:task " << id << " is not in download time window");
    return false;
  }
  OBX_INFO(kChannel, kSource, "DoPatchFile:task " << id << " download patch file");
  const std::string types = task_.Policy().DownloadTypes(Program::kPatch);
  if (types.empty()) {
    OBX_INFO(kChannel, kSource, "PatchFile:task " << id << " downloadType is Null");
    return false;
  }
  OBX_INFO(kChannel, kSource, "PatchFile:task " << id << " downloadType is " << types);
  std::string usedType;
  with_.beforeActing();
  if (!with_.downloads.Fetch(url, types, fileName, md5, sha256, usedType)) {
    OBX_INFO(kChannel, kSource, "DoPatchFile:task " << id << " download patch file failed");
    return false;
  }
  task_.MarkDownloaded(Program::kPatch, usedType);
  OBX_INFO(kChannel, kSource, "DoPatchFile:task " << id << "  patch file was downloaded");
  return true;
}

bool PatchStage::CheckFile(const std::string& path, const std::string& md5,
                           const std::string& sha256) {
  if (with_.downloads.HoldsExpected(path, md5, sha256)) return true;
  OBX_WARNING(kChannel, kSource,
              "DoPatchFile:task " << task_.Id() << " " << path << " does not match its md5 " << md5
                                  << (sha256.empty() ? "" : " or sha256 " + sha256)
                                  << ", it is downloaded again");
  task_.MarkToDownload(Program::kPatch);
  return false;
}

bool PatchStage::RunProgram(const std::string& path, const std::string& md5,
                            const std::string& sha256) {
  const std::string& id = task_.Id();
  // Before anyone waits or is asked: a missing or changed copy is fetched
  // again first.
  if (!CheckFile(path, md5, sha256)) return false;
  int32_t sleepTime = 0;
  if (task_.Policy().HasStartDelay()) {
    if (!GetStartDelay(task_.Policy(), sleepTime)) {
      OBX_INFO(kChannel, kSource, "DoPatchFile:task " << id << " :not in Time Windows");
      return false;
    }
    // A negative delay (a negative firstruntime) means "now"; as an unsigned
    // wait it would last some 49 days.
    if (sleepTime < 0) sleepTime = 0;
    OBX_INFO(kChannel, kSource, "DoPatchFile:task " << id << " :start in ::" << sleepTime);
  }
  if (!CheckDeadline(task_.Policy(), sleepTime / 1000)) {
    OBX_INFO(kChannel, kSource, "DoPatchFile:task " << id << "  patch has not been in deadline");
    return false;
  }

  OBX_INFO(kChannel, kSource,
           "DoPatchFile:task " << id << "  patch waiting for patch file installation");
  with_.values.MarkPatchRunning();
  with_.beforeActing();
  if (!with_.clock.Wait(static_cast<uint32_t>(sleepTime))) {
    OBX_INFO(kChannel, kSource,
             "DoPatchFile:task " << id << " start delay cut short: the agent is stopping");
    return false;
  }

  // The task stays pending until the user has said no or the program has
  // answered: its start note, not the status, keeps it from a second start.
  switch (with_.prompt.Ask(task_.Policy())) {
    case PatchMessageOutcome::kCancelled:
      task_.MarkDone();
      with_.values.SetCancelledByUser();
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

  if (!CheckFile(path, md5, sha256)) return false;
  const std::string runArgs = task_.Policy().RunArguments();
  const std::string arguments = QuoteArgument(id);
  const std::string commandLine =
      MakeCommandLine(path, runArgs.empty() ? arguments : arguments + " " + runArgs);
  OBX_INFO(kChannel, kSource, "DoPatchFile: " << commandLine << " will start");
  ProgramRun run;
  NoteProgramStart(task_, Program::kPatch, run, with_);
  with_.launcher.Run(commandLine, platform::kInfinite, run);
  if (run.outcome == platform::WaitResult::kStopped) {
    // Cutting an installer short is worse than letting it end. Its start
    // stays noted: a later walk reports its result once it has ended.
    OBX_INFO(kChannel, kSource,
             "DoPatchFile:task "
                 << id << " patch program still running, left to finish: the agent is stopping");
    return false;
  }
  // A program that could not start says so in its result, not "Running ...".
  if (!run.failure.empty()) with_.values.SetStartFailure(run.failure);
  task_.MarkRunEnded(with_.values.Repeats());
  return true;
}

}  // namespace obx
