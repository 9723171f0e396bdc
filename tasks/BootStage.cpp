#include "tasks/BootStage.h"

#include <string>

#include "foundation/Log.h"
#include "foundation/StringUtil.h"
#include "platform/Process.h"
#include "tasks/ProcessLauncher.h"
#include "tasks/TimeRules.h"

namespace obx {

namespace {

const char kChannel[] = "OBXConsole";
const char kSource[] = "TaskManager";

}  // namespace

bool BootStage::Run() {
  const std::string& id = task_.Id();
  const PolicyEntry& offer = task_.Policy();
  OBX_INFO(kChannel, kSource, "BootFile:task " << id << " run boot program");
  const std::string url = offer.Url(Program::kBoot);
  if (url.empty()) {
    OBX_INFO(kChannel, kSource,
             "BootFile:task " << id << " could not downloaded bootfile for URL is null");
    return false;
  }
  const std::string fileName = GetFileNameFromUrl(url);
  const std::string md5 = offer.Md5(Program::kBoot);
  const std::string sha256 = offer.Sha256(Program::kBoot);
  if (RefusedWithoutSha256("BootFile", id, sha256, with_)) return false;
  if (task_.Download(Program::kBoot) == DownloadState::kToDownload &&
      !Download(url, fileName, md5, sha256))
    return false;

  switch (task_.Verdict()) {
    case BootVerdict::kTrue:
      if (with_.values.NamesPatchFile()) {
        OBX_INFO(kChannel, kSource, "BootFile:bootfile resule=true and have patchFile");
        return true;
      }
      OBX_INFO(kChannel, kSource, "BootFile:bootfile resule=true and no patchFile");
      return false;
    case BootVerdict::kFalse:
      OBX_INFO(kChannel, kSource, "BootFile:bootfile executed already. result=false");
      return false;
    case BootVerdict::kNone:
    case BootVerdict::kOther:
      break;
  }

  const std::string note = task_.StartNote(Program::kBoot);
  if (!note.empty()) {
    // Started by an earlier walk that ended before the answer: not again.
    // Cleared before the start: any verdict in it is the program's.
    const bool answered = !with_.values.BootVerdict().empty();
    if (with_.launcher.StillRunning(note, kBootProgramWaitMs, answered)) {
      OBX_INFO(kChannel, kSource,
               "BootFile:task " << id << " boot program still running, its verdict waits");
      return false;
    }
    OBX_INFO(
        kChannel, kSource,
        "BootFile:task " << id << " boot program started before has ended, its verdict is read");
    StoreVerdict();
    return true;
  }
  return RunProgram(with_.updateFolder + "\\" + fileName, md5, sha256);
}

bool BootStage::Download(const std::string& url, const std::string& fileName,
                         const std::string& md5, const std::string& sha256) {
  const std::string& id = task_.Id();
  if (!CheckTimeWindow(task_.Policy(), Program::kBoot)) {
    OBX_INFO(kChannel, kSource, "BootFile:task " << id << " is not in download time window");
    return false;
  }
  OBX_INFO(kChannel, kSource, "BootFile:task " << id << " has not downloaded bootfile");
  if (md5.empty()) {
    OBX_INFO(kChannel, kSource, "BootFile:task " << id << " md5 is null");
    return false;
  }
  const std::string types = task_.Policy().DownloadTypes(Program::kBoot);
  if (types.empty()) {
    OBX_INFO(kChannel, kSource, "BootFile:task " << id << " downloadType is Null");
    return false;
  }
  OBX_INFO(kChannel, kSource, "BootFile:task " << id << " downloadType is " << types);
  std::string usedType;
  with_.beforeActing();
  if (!with_.downloads.Fetch(url, types, fileName, md5, sha256, usedType)) {
    OBX_INFO(kChannel, kSource, "BootFile: " << url << " downloaded bootfile failed");
    return false;
  }
  OBX_INFO(kChannel, kSource, "BootFile:task " << id << " downloaded successful");
  task_.MarkDownloaded(Program::kBoot, usedType);
  return true;
}

bool BootStage::RunProgram(const std::string& path, const std::string& md5,
                           const std::string& sha256) {
  const std::string& id = task_.Id();
  if (!with_.downloads.HoldsExpected(path, md5, sha256)) {
    OBX_WARNING(kChannel, kSource,
                "BootFile:task " << id << " " << path << " does not match its md5 " << md5
                                 << (sha256.empty() ? "" : " or sha256 " + sha256)
                                 << ", it is downloaded again");
    task_.MarkToDownload(Program::kBoot);
    return false;
  }
  OBX_INFO(kChannel, kSource, "BootFile:task " << path << " waiting for boot file result");
  with_.values.ClearBootVerdict();
  ProgramRun run;
  NoteProgramStart(task_, Program::kBoot, run, with_);
  const bool ran =
      with_.launcher.Run(MakeCommandLine(path, QuoteArgument(id)), kBootProgramWaitMs, run);
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
  StoreVerdict();
  return ran;
}

void BootStage::StoreVerdict() {
  task_.SetBootVerdict(with_.values.BootVerdict());
  if (!(task_.Policy().BootOnly() && task_.Verdict() == BootVerdict::kTrue))
    task_.ClearStartNote(Program::kBoot);
}

}  // namespace obx
