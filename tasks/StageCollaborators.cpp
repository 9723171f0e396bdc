#include "tasks/StageCollaborators.h"

#include <string>

#include "foundation/Log.h"

namespace obx {

void NoteProgramStart(TaskRecord& task, Program program, ProgramRun& run,
                      StageCollaborators& with) {
  task.NoteProgramStart(program, with.launcher.NewStartNote());
  run.started = [&task, program, &with](int pid) {
    task.NoteProgramStart(program, with.launcher.NoteWithProcess(task.StartNote(program), pid));
    with.beforeActing();
  };
  with.beforeActing();
}

bool RefusedWithoutSha256(const char* stage, const std::string& id, const std::string& sha256,
                          const StageCollaborators& with) {
  if (!sha256.empty() || !with.serverKeySet) return false;
  OBX_WARNING("OBXConsole", "TaskManager",
              stage << ":task " << id
                    << " refused: its file has no sha256 in the policy and a server key is set");
  return true;
}

}  // namespace obx
