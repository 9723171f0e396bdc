#include "records/TaskFiles.h"

#include <string>

#include "foundation/SettingsStore.h"

namespace obx {

std::string PolicyFilePath() { return ModuleFolder() + "\\PatchPolicy.xml"; }
std::string TaskListFilePath() { return ModuleFolder() + "\\TaskList.xml"; }

}  // namespace obx
