// The task runner: construction, loading, the walk over the tasks and the try
// limit.
#include "tasks/TaskManager.h"

#include <cstdint>
#include <string>

#include "foundation/Log.h"
#include "foundation/SettingsStore.h"
#include "foundation/StringUtil.h"
#include "platform/Process.h"
#include "platform/StopToken.h"
#include "records/ReportInfo.h"
#include "records/TaskFiles.h"
#include "tasks/Applicability.h"
#include "tasks/ProcessLauncher.h"
#include "tasks/ProgramMark.h"

namespace obx {

namespace {

const char kChannel[] = "OBXConsole";
const char kSource[] = "TaskManager";
const char kPending[] = "to_be_executed";
const char kPatchRunningText[] = "Running ...";

}  // namespace

std::string PatchInfoKey(const std::string& id) { return std::string(kPatchInfoKey) + "\\" + id; }

TaskManager::TaskManager() : fileSavedPath_(UpdateFolder()) {
  ReadRegDword(HKLM, kModuleKey, "TryTimes", tryTimes_);
}

bool TaskManager::InitTask() {
  if (!policy_.Load(PolicyFilePath(), false)) return false;
  if (!taskList_.Load(TaskListFilePath(), false)) return false;
  return !taskList_.policyIds.empty();
}

void TaskManager::RunTaskList() {
  OBX_INFO(kChannel, kSource, "RunTaskList");
  if (taskList_.policyIds.empty() || policy_.policyIds.empty()) {
    OBX_INFO(kChannel, kSource, "RunTaskList:task or policy is Empty");
    return;
  }
  walkWrites_.emplace(taskList_);
  try {
    WalkTaskList();
  } catch (...) {
    // The held-back writes would mark the queued tasks reported: their
    // records go first, or, should that fail too, the tasks stay unreported.
    try {
      HandOverVersionRecords();
    } catch (...) {
      for (const ReportRecord& record : queuedVersions_)
        taskList_.SetAttribute(record.id, "versionReport", "status", "false");
      queuedVersions_.clear();
    }
    walkWrites_.reset();
    throw;
  }
  HandOverVersionRecords();
  walkWrites_.reset();  // writes what the walk still holds back
}

void TaskManager::WalkTaskList() {
  // std::set orders std::string as memcmp does: by unsigned bytes, so "10"
  // comes before "9".
  for (const std::string& id : taskList_.policyIds) {
    if (platform::QuitRequested()) return;
    OBX_INFO(kChannel, kSource, "taskID ****" << id << " ******");
    const Resumed resumed = ResumeStartedProgram(id);
    if (resumed == Resumed::kRunning) continue;
    if (resumed == Resumed::kNone && !RunTask(id)) continue;

    // A stage cut short by the quit request: the version record waits for
    // the next cycle.
    if (platform::QuitRequested()) return;
    if (taskList_.GetAttribute(id, "versionReport", "status") != "true") {
      QueueVersionRecord(id);
      taskList_.SetAttribute(id, "versionReport", "status", "true");
    }
  }
}

bool TaskManager::RunTask(const std::string& id) {
  if (taskList_.GetAttribute(id, "PatchExecute", "status") != kPending) {
    OBX_INFO(kChannel, kSource, "RunTaskList:task " << id << " has been done before");
    return false;
  }
  if (!CheckCompositesVer(policy_, id)) {
    OBX_INFO(kChannel, kSource, "RunTaskList:task " << id << " Composites is not valid ");
    return false;
  }
  if (CheckRunTimes(id)) {
    OBX_INFO(kChannel, kSource, "RunTaskList:task " << id << " run overtimes");
    return false;
  }
  if (!BootFile(id)) return true;
  const std::string result = taskList_.GetAttribute(id, "bootrun", "result");
  OBX_INFO(kChannel, kSource, "BootFile: boot file result " << result);
  if (result != "true") return true;
  if (policy_.GetAttribute(id, "download", "url").empty()) {
    FinishBootOnlyTask(id);  // the boot program was the whole job
  } else if (DoPatchFile(id)) {
    ReportPatchResult(id);
  }
  return true;
}

TaskManager::Resumed TaskManager::ResumeStartedProgram(const std::string& id) {
  const std::string patchNote = taskList_.GetAttribute(id, "PatchExecute", "started");
  if (!patchNote.empty()) {
    const std::string regPatchId = PatchInfoKey(id);
    // Before the start the interim text stands in Result1; the program's own
    // result replaces it.
    const bool answered = ReadRegString(HKLM, regPatchId, "Result1") != kPatchRunningText;
    if (ProgramMark::Parse(patchNote).StillRunning(platform::kInfinite, answered)) {
      OBX_INFO(kChannel, kSource,
               "RunTaskList:task " << id << " patch program still running, its result waits");
      return Resumed::kRunning;
    }
    OBX_INFO(kChannel, kSource,
             "RunTaskList:task " << id << " patch program has ended, its result is reported");
    // The interim text is the agent's own: the program left no result.
    if (ReadRegString(HKLM, regPatchId, "Result1") == kPatchRunningText)
      WriteRegString(HKLM, regPatchId, "Result1", "");
    taskList_.SetAttribute(
        id, "PatchExecute", "status",
        ReadRegString(HKLM, regPatchId, "repeate") == "true" ? kPending : "done");
    ReportPatchResult(id);
    return Resumed::kReported;
  }
  // A boot-only task whose verdict "true" is stored but whose record is not.
  if (!taskList_.GetAttribute(id, "bootrun", "started").empty() &&
      taskList_.GetAttribute(id, "bootrun", "result") == "true" &&
      policy_.GetAttribute(id, "download", "url").empty()) {
    OBX_INFO(kChannel, kSource, "RunTaskList:task " << id << " boot program has answered before");
    FinishBootOnlyTask(id);
    return Resumed::kReported;
  }
  return Resumed::kNone;
}

void TaskManager::FinishBootOnlyTask(const std::string& id) {
  SaveBeforeActing();
  ReportTaskResult(id, kInstallResultInfo);
  if (ReadRegString(HKLM, PatchInfoKey(id), "repeate") == "true") {
    taskList_.SetAttribute(id, "PatchExecute", "status", kPending);
  } else {
    taskList_.SetAttribute(id, "PatchExecute", "status", "done");
    OBX_INFO(kChannel, kSource, "BootFile: boot file finished and task finished ");
  }
  if (!taskList_.GetAttribute(id, "bootrun", "started").empty())
    taskList_.SetAttribute(id, "bootrun", "started", "");
}

void TaskManager::ReportPatchResult(const std::string& id) {
  SaveBeforeActing();
  ReportTaskResult(id, kInstallResultInfo);
  if (!taskList_.GetAttribute(id, "PatchExecute", "started").empty())
    taskList_.SetAttribute(id, "PatchExecute", "started", "");
}

void TaskManager::NoteProgramStart(const std::string& id, const char* element, ProgramRun& run) {
  taskList_.SetAttribute(id, element, "started", ProgramMark::Now().Text().c_str());
  run.started = [this, id, element](int pid) {
    ProgramMark mark = ProgramMark::Parse(taskList_.GetAttribute(id, element, "started"));
    mark.pid = pid;
    mark.stamp = platform::ProcessStartStamp(pid);
    taskList_.SetAttribute(id, element, "started", mark.Text().c_str());
    SaveBeforeActing();
  };
  SaveBeforeActing();
}

void TaskManager::SaveBeforeActing() {
  HandOverVersionRecords();
  if (walkWrites_) walkWrites_->Flush();
}

bool TaskManager::CheckRunTimes(const std::string& id) {
  const std::string times = taskList_.GetAttribute(id, "PatchExecute", "times");
  const int count = times.empty() ? 0 : AtoI(times);
  // In 64 bits: a count at the int limit is written one higher instead of
  // overflowing (it reads back as the limit and stays over any try limit).
  const std::string next = std::to_string(static_cast<int64_t>(count) + 1);
  taskList_.SetAttribute(id, "PatchExecute", "times", next.c_str());
  if (tryTimes_ == 0) return false;
  // -1 compares as 4294967295: over every limit.
  return static_cast<uint32_t>(count) > tryTimes_;
}

void TaskExecute() {
  TaskManager tasks;
  if (tasks.InitTask()) {
    tasks.RunTaskList();
  } else {
    OBX_ERROR(kChannel, "OBXConsole", "TaskExecute:Init Task failed");
  }
}

}  // namespace obx
