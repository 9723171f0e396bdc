#pragma once
// The boot-program stage of a task: the boot program is downloaded while the
// task list says so, run (path, blank, task id; at most kBootProgramWaitMs)
// while no verdict is stored, and its verdict copied from the task's values
// into the task record. Only a copy with the policy's digests is ever
// started: one that differs (changed or replaced since it was downloaded) is
// logged and downloaded again in a later cycle. A program started in an
// earlier walk is never started again: its verdict is read once it has ended.
//
// Logging: channel "OBXConsole", source "TaskManager". Nothing is thrown.
#include "records/TaskRecord.h"
#include "tasks/StageCollaborators.h"

namespace obx {

class BootStage {
 public:
  BootStage(TaskRecord& task, StageCollaborators& with) : task_(task), with_(with) {}

  // True when the program ran to its end in this call (or one started before
  // has ended and its verdict is read), or when an earlier verdict "true"
  // came with a patch file named.
  bool Run();

  // Stores the program's verdict and drops the start note, which a boot-only
  // task with verdict "true" keeps until its record is handed over.
  void StoreVerdict();

 private:
  // Fetches the boot program within its time window; false when it cannot
  // now (logged), the task list left to try again in a later cycle.
  bool Download(const std::string& url, const std::string& fileName, const std::string& md5,
                const std::string& sha256);
  bool RunProgram(const std::string& path, const std::string& md5, const std::string& sha256);

  TaskRecord& task_;
  StageCollaborators& with_;
};

}  // namespace obx
