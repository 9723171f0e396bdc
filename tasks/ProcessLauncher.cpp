#include "tasks/ProcessLauncher.h"

#include "foundation/Log.h"

namespace obx {

std::string MakeCommandLine(const std::string& programPath, const std::string& arguments) {
  const bool blank = programPath.find_first_of(" \t") != std::string::npos;
  return (blank ? "\"" + programPath + "\"" : programPath) + " " + arguments;
}

std::string QuoteArgument(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos) return word;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (const char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes read literally unless a quote follows them.
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  return quoted + "\"";
}

bool RunProcess(const std::string& commandLine, uint32_t waitMs, platform::WaitResult* outcome) {
  ProgramRun run;
  const bool ended = RunProcess(commandLine, waitMs, run);
  if (outcome != nullptr) *outcome = run.outcome;
  return ended;
}

bool RunProcess(const std::string& commandLine, uint32_t waitMs, ProgramRun& run) {
  platform::ProcessOptions options;
  options.highPriority = true;
  options.makeExecutable = true;  // both programs come from the update folder
  platform::Process process;
  const long error = process.Start(commandLine, options);
  if (error != platform::kErrorSuccess) {
    run.failure = " Create process " + commandLine + " failed:" + std::to_string(error);
    OBX_INFO("OBXConsole", "TaskManager", run.failure);
    run.outcome = platform::WaitResult::kFailed;
    return false;
  }
  if (run.started) run.started(process.Id());
  run.outcome = process.Wait(waitMs);
  return run.outcome == platform::WaitResult::kExited;
}

}  // namespace obx
