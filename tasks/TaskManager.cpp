// The task runner: construction, loading, the walk over the tasks and the try
// limit.
#include "tasks/TaskManager.h"

#include <cstdint>
#include <string>

#include "cycle/PolicyUpdate.h"
#include "cycle/ReportInfo.h"
#include "foundation/Log.h"
#include "foundation/SettingsStore.h"
#include "foundation/StringUtil.h"
#include "platform/StopToken.h"
#include "tasks/Applicability.h"

namespace obx {

namespace {

const char kChannel[] = "OBXConsole";
const char kSource[] = "TaskManager";
const char kPending[] = "to_be_executed";

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
  WalkTaskList();
  HandOverVersionRecords();
  walkWrites_.reset();  // writes what the walk still holds back
}

void TaskManager::WalkTaskList() {
  // std::set orders std::string as memcmp does: by unsigned bytes, so "10"
  // comes before "9".
  for (const std::string& id : taskList_.policyIds) {
    if (platform::QuitRequested()) return;
    OBX_INFO(kChannel, kSource, "taskID ****" << id << " ******");
    if (taskList_.GetAttribute(id, "PatchExecute", "status") != kPending) {
      OBX_INFO(kChannel, kSource, "RunTaskList:task " << id << " has been done before");
      continue;
    }
    if (!CheckCompositesVer(policy_, id)) {
      OBX_INFO(kChannel, kSource, "RunTaskList:task " << id << " Composites is not valid ");
      continue;
    }
    if (CheckRunTimes(id)) {
      OBX_INFO(kChannel, kSource, "RunTaskList:task " << id << " run overtimes");
      continue;
    }

    if (BootFile(id)) {
      const std::string result = taskList_.GetAttribute(id, "bootrun", "result");
      OBX_INFO(kChannel, kSource, "BootFile: boot file result " << result);
      if (result == "true") {
        if (policy_.GetAttribute(id, "download", "url").empty()) {
          // A boot-only task: the boot program was the whole job.
          SaveBeforeActing();
          ReportTaskResult(id, kInstallResultInfo);
          if (ReadRegString(HKLM, PatchInfoKey(id), "repeate") == "true") {
            taskList_.SetAttribute(id, "PatchExecute", "status", kPending);
          } else {
            taskList_.SetAttribute(id, "PatchExecute", "status", "done");
            OBX_INFO(kChannel, kSource, "BootFile: boot file finished and task finished ");
          }
        } else if (DoPatchFile(id)) {
          SaveBeforeActing();
          ReportTaskResult(id, kInstallResultInfo);
        }
      }
    }

    // A stage cut short by the quit request: the version record waits for
    // the next cycle.
    if (platform::QuitRequested()) return;
    if (taskList_.GetAttribute(id, "versionReport", "status") != "true") {
      QueueVersionRecord(id);
      taskList_.SetAttribute(id, "versionReport", "status", "true");
    }
  }
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
