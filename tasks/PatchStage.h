#pragma once
// The patch-file stage of a pending task: picks the offered patch file the
// boot program named, downloads it once, checks the copy, waits for the start
// delay (a negative delay counts as 0) and the deadline, asks the user when
// the policy says so, checks the copy again and runs the patch program (path,
// blank, task id, then a blank and the policy's run arguments when set)
// without a time limit.
//
// Logging: channel "OBXConsole", source "TaskManager". Nothing is thrown.
#include <string>

#include "records/TaskRecord.h"
#include "tasks/StageCollaborators.h"

namespace obx {

class PatchStage {
 public:
  PatchStage(TaskRecord& task, StageCollaborators& with) : task_(task), with_(with) {}

  // True when the program ran (or could not start: its failure is its
  // result) or the user cancelled at the message; false when the stage
  // stopped early, the state left so that a later cycle goes on. A quit
  // request during the delay or at the message leaves the task pending; one
  // during the run leaves the program running and its start noted, so that a
  // later walk reports its result once it has ended.
  bool Run();

 private:
  // As BootStage::Download, for the patch file.
  bool Download(const std::string& url, const std::string& fileName, const std::string& md5,
                const std::string& sha256);
  // True when the copy at `path` is the policy's; otherwise logged and marked
  // for a new download.
  bool CheckFile(const std::string& path, const std::string& md5, const std::string& sha256);
  // From the start delay on, once the file is in place.
  bool RunProgram(const std::string& path, const std::string& md5, const std::string& sha256);

  TaskRecord& task_;
  StageCollaborators& with_;
};

}  // namespace obx
