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
#include "records/CycleDocuments.h"
#include "records/ReportInfo.h"
#include "records/TaskFiles.h"
#include "tasks/Applicability.h"
#include "tasks/BootStage.h"
#include "tasks/PatchStage.h"

namespace obx {

namespace {

const char kChannel[] = "OBXConsole";
const char kSource[] = "TaskManager";

}  // namespace

TaskManager::TaskManager() : TaskManager(ownPolicy_, ownTaskList_) {}

TaskManager::TaskManager(PatchPolicyManager& policy, PatchPolicyManager& taskList)
    : policy_(policy), taskList_(taskList), fileSavedPath_(UpdateFolder()) {
  ReadRegDword(HKLM, kModuleKey, "TryTimes", tryTimes_);
}

bool TaskManager::InitTask() {
  if (!policy_.Reload(PolicyFilePath(), false)) return false;
  if (!taskList_.Reload(TaskListFilePath(), false)) return false;
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
      HandOverQueuedRecords();
    } catch (...) {
      LeaveQueuedTasksUnreported();
    }
    walkWrites_.reset();
    throw;
  }
  HandOverQueuedRecords();
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
    TaskRecord task = Task(id);
    if (!task.VersionReported()) {
      QueueVersionRecord(id);
      task.SetVersionReported(true);
    }
  }
}

bool TaskManager::RunTask(const std::string& id) {
  TaskRecord task = Task(id);
  if (task.Execute() != ExecuteState::kToBeExecuted) {
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
  OBX_INFO(kChannel, kSource, "BootFile: boot file result " << task.VerdictText());
  if (task.Verdict() != BootVerdict::kTrue) return true;
  if (task.Policy().BootOnly()) {
    FinishBootOnlyTask(id);  // the boot program was the whole job
  } else if (DoPatchFile(id)) {
    ReportPatchResult(id);
  }
  return true;
}

TaskManager::Resumed TaskManager::ResumeStartedProgram(const std::string& id) {
  TaskRecord task = Task(id);
  const std::string patchNote = task.StartNote(Program::kPatch);
  if (!patchNote.empty()) {
    RegistryTaskValues values(id);
    // Before the start the interim text stands in Result1; the program's own
    // result replaces it.
    if (launcher_.StillRunning(patchNote, platform::kInfinite, values.PatchAnswered())) {
      OBX_INFO(kChannel, kSource,
               "RunTaskList:task " << id << " patch program still running, its result waits");
      return Resumed::kRunning;
    }
    OBX_INFO(kChannel, kSource,
             "RunTaskList:task " << id << " patch program has ended, its result is reported");
    // The interim text is the agent's own: the program left no result.
    values.DropInterimResult();
    task.MarkRunEnded(values.Repeats());
    ReportPatchResult(id);
    return Resumed::kReported;
  }
  // A boot-only task whose verdict "true" is stored but whose record is not.
  if (!task.StartNote(Program::kBoot).empty() && task.Verdict() == BootVerdict::kTrue &&
      task.Policy().BootOnly()) {
    OBX_INFO(kChannel, kSource, "RunTaskList:task " << id << " boot program has answered before");
    FinishBootOnlyTask(id);
    return Resumed::kReported;
  }
  return Resumed::kNone;
}

void TaskManager::FinishBootOnlyTask(const std::string& id) {
  SaveBeforeActing();
  ReportTaskResult(id, kInstallResultInfo);
  TaskRecord task = Task(id);
  if (RegistryTaskValues(id).Repeats()) {
    task.MarkPending();
  } else {
    task.MarkDone();
    OBX_INFO(kChannel, kSource, "BootFile: boot file finished and task finished ");
  }
  task.ClearStartNote(Program::kBoot);
}

void TaskManager::ReportPatchResult(const std::string& id) {
  SaveBeforeActing();
  ReportTaskResult(id, kInstallResultInfo);
  Task(id).ClearStartNote(Program::kPatch);
}

StageCollaborators TaskManager::With(TaskValues& values) {
  // A module setting like the update folder: read once a cycle, not per task.
  if (!serverKeySet_) serverKeySet_ = ServerKeySet();
  return StageCollaborators{downloads_,     launcher_,     values,
                            clock_,         prompt_,       [this] { SaveBeforeActing(); },
                            fileSavedPath_, *serverKeySet_};
}

bool TaskManager::BootFile(const std::string& id) {
  TaskRecord task = Task(id);
  RegistryTaskValues values(id);
  StageCollaborators with = With(values);
  return BootStage(task, with).Run();
}

bool TaskManager::DoPatchFile(const std::string& id) {
  TaskRecord task = Task(id);
  RegistryTaskValues values(id);
  StageCollaborators with = With(values);
  return PatchStage(task, with).Run();
}

void TaskManager::SaveBeforeActing() {
  HandOverQueuedRecords();
  if (walkWrites_) walkWrites_->Flush();
}

void TaskManager::HandOverQueuedRecords() {
  // A stop does not wait for the report file's write and the upload, which
  // grow with the number of queued records: the records are dropped instead,
  // and their tasks stay unreported for the next walk to make and send them.
  if (platform::QuitRequested()) {
    LeaveQueuedTasksUnreported();
    return;
  }
  HandOverVersionRecords();
}

void TaskManager::LeaveQueuedTasksUnreported() {
  for (const ReportRecord& record : queuedVersions_) Task(record.id).SetVersionReported(false);
  queuedVersions_.clear();
}

bool TaskManager::CheckRunTimes(const std::string& id) {
  TaskRecord task = Task(id);
  const std::string times = task.RunCount();
  const int count = times.empty() ? 0 : AtoI(times);
  // In 64 bits: a count at the int limit is written one higher instead of
  // overflowing (it reads back as the limit and stays over any try limit).
  const std::string next = std::to_string(static_cast<int64_t>(count) + 1);
  task.SetRunCount(next);
  if (tryTimes_ == 0) return false;
  // -1 compares as 4294967295: over every limit.
  return static_cast<uint32_t>(count) > tryTimes_;
}

void TaskExecute() {
  struct Release {
    ~Release() { CycleDocuments::Release(); }
  } release;
  TaskManager tasks(CycleDocuments::Policy(), CycleDocuments::TaskList());
  if (tasks.InitTask()) {
    tasks.RunTaskList();
  } else {
    OBX_ERROR(kChannel, "OBXConsole", "TaskExecute:Init Task failed");
  }
}

}  // namespace obx
