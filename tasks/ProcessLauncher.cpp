#include "tasks/ProcessLauncher.h"

#include "foundation/Log.h"

namespace obx {

std::string MakeCommandLine(const std::string& programPath, const std::string& arguments) {
  const bool blank = programPath.find_first_of(" \t") != std::string::npos;
  return (blank ? "\"" + programPath + "\"" : programPath) + " " + arguments;
}

bool RunProcess(const std::string& commandLine, uint32_t waitMs, platform::WaitResult* outcome) {
  platform::ProcessOptions options;
  options.highPriority = true;
  options.makeExecutable = true;  // both programs come from the update folder
  platform::Process process;
  const long error = process.Start(commandLine, options);
  if (error != platform::kErrorSuccess) {
    OBX_INFO("OBXConsole", "TaskManager", " Create process " << commandLine << " failed:" << error);
    if (outcome != nullptr) *outcome = platform::WaitResult::kFailed;
    return false;
  }
  const platform::WaitResult waited = process.Wait(waitMs);
  if (outcome != nullptr) *outcome = waited;
  return waited == platform::WaitResult::kExited;
}

}  // namespace obx
