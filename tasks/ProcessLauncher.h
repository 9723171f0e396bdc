#pragma once
// Starting the task's programs: the boot program and the patch program, both
// files the agent downloaded into its update folder. Messages go to channel
// "OBXConsole" with source "TaskManager".
//
// Threads: the worker thread, which is blocked for the whole wait; the wait
// ends early on the worker's quit request.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Process.h"

namespace obx {

// The longest wait for a boot program.
constexpr uint32_t kBootProgramWaitMs = 180000;

// The command line that runs `programPath` with `arguments`: the path, one
// blank, the arguments. A path holding a blank or a tab is put in double
// quotes, since unquoted its first word alone would be taken for the program;
// every other path stays exactly as given.
std::string MakeCommandLine(const std::string& programPath, const std::string& arguments);

// `word` as one word of a command line split by the Windows rules
// (platform::SplitCommandLine): unchanged when it has no blank, tab or double
// quote and is not empty; otherwise in double quotes, each quote escaped with a
// backslash and the backslashes before a quote or before the closing quote
// doubled.
std::string QuoteArgument(const std::string& word);

// What a caller learns of a start beyond its answer.
struct ProgramRun {
  // Called once the program runs, with its process id, before the wait.
  std::function<void(int pid)> started;
  platform::WaitResult outcome = platform::WaitResult::kFailed;
  // A start that failed: the logged text, " Create process " + command line +
  // " failed:" + the Windows error code.
  std::string failure;
};

// Starts `commandLine` (split by the Windows rules; the program made
// executable if it has no execute permission yet, at high priority where the
// system allows) with the agent's environment and current folder, and waits
// up to `waitMs` milliseconds (platform::kInfinite: no limit). True only when
// the program ended within the wait; its exit code is not looked at. A start
// that fails logs " Create process " + command line + " failed:" + the Windows
// error code (2 for a missing program) and gives false. A program still
// running when the wait ends (time-out or quit request) keeps running and is
// collected by the platform once it ends. `outcome`, when given, tells how the
// wait ended (kFailed for a failed start).
bool RunProcess(const std::string& commandLine, uint32_t waitMs,
                platform::WaitResult* outcome = nullptr);
bool RunProcess(const std::string& commandLine, uint32_t waitMs, ProgramRun& run);

}  // namespace obx
