#pragma once
// Where the stored policy and the task list live. Both the policy update,
// which writes them, and the task runner, which reads them, find them here.
#include <string>

namespace obx {

// Module folder + "\PatchPolicy.xml" and + "\TaskList.xml" (Windows-style).
std::string PolicyFilePath();
std::string TaskListFilePath();

}  // namespace obx
