#include "platform/Process.h"

#include <string>
#include <vector>

#include "platform/StateRoot.h"
#include "platform/StopToken.h"
#include "platform/win32/Windows.h"

namespace platform {

namespace {

// Programs start on the interactive desktop, where the logged-on user sees
// the windows they open.
char kInteractiveDesktop[] = "WinSta0\\Default";

bool IsPathWord(const std::string& word) {
  return word.find_first_of("\\/") != std::string::npos || (word.size() >= 2 && word[1] == ':');
}

bool IsRegularFile(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// One later word of a command line, written so that SplitCommandLine (and
// the C runtime of the child) reads it back unchanged.
std::string QuoteArgument(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos) return word;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  // Before the closing quote they are doubled too.
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

}  // namespace

std::string FindProgram(const std::string& program) {
  if (program.empty()) return "";
  if (IsPathWord(program)) return NativePath(program);
  // CreateProcess adds ".exe" to a name without an extension.
  const bool hasExtension = program.find('.') != std::string::npos;
  const std::string dirs = win32::EnvironmentValue("PATH");
  size_t start = 0;
  while (start < dirs.size()) {
    size_t end = dirs.find(';', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    start = end + 1;
    if (dir.empty()) continue;
    if (dir.back() != '\\' && dir.back() != '/') dir += '\\';
    if (IsRegularFile(dir + program)) return dir + program;
    if (!hasExtension && IsRegularFile(dir + program + ".exe")) return dir + program + ".exe";
  }
  return "";
}

Process::~Process() {
  if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

long Process::Start(const std::string& commandLine, const ProcessOptions& options) {
  if (handle_ != -1 || pid_ != 0) return kErrorInvalidParameter;
  const std::vector<std::string> words = SplitCommandLine(commandLine);
  if (words.empty() || words[0].empty()) return kErrorInvalidParameter;
  try {
    // No application name: the system takes the program from the command
    // line, which goes over unchanged, by its own rules for an unquoted path
    // with blanks in it.
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.lpDesktop = kInteractiveDesktop;
    PROCESS_INFORMATION info;
    ZeroMemory(&info, sizeof info);
    // Files the agent downloads need no execute permission here, so
    // options.makeExecutable asks for nothing. Handles are not inherited.
    const DWORD flags = options.highPriority ? HIGH_PRIORITY_CLASS : 0;
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                          &startup, &info))
      return win32::LastError();
    ::CloseHandle(info.hThread);
    handle_ = reinterpret_cast<intptr_t>(info.hProcess);
    pid_ = static_cast<int>(info.dwProcessId);
    return kErrorSuccess;
  } catch (...) {
    return kErrorNotEnoughMemory;
  }
}

long Process::StartArgs(const std::vector<std::string>& args, const ProcessOptions& options) {
  if (args.empty() || args[0].empty()) return kErrorInvalidParameter;
  try {
    // The program word has no escapes: quoted when it has a blank, as is.
    std::string line =
        args[0].find_first_of(" \t") == std::string::npos ? args[0] : "\"" + args[0] + "\"";
    for (size_t i = 1; i < args.size(); ++i) line += " " + QuoteArgument(args[i]);
    return Start(line, options);
  } catch (...) {
    return kErrorNotEnoughMemory;
  }
}

bool Process::Collect() {
  HANDLE process = reinterpret_cast<HANDLE>(handle_);
  if (::WaitForSingleObject(process, 0) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  exitCode_ = ::GetExitCodeProcess(process, &code) ? code : 0;
  // The handle goes at once: nothing more is asked of an ended child.
  ::CloseHandle(process);
  handle_ = -1;
  collected_ = true;
  return true;
}

WaitResult Process::Wait(uint32_t ms) {
  if (pid_ == 0) return WaitResult::kFailed;
  if (collected_ || Collect()) return WaitResult::kExited;
  const StopToken stop = CurrentStopToken();
  if (stop.StopRequested()) return WaitResult::kStopped;
  // The child first: when both are signalled, its end is the answer.
  HANDLE handles[2] = {reinterpret_cast<HANDLE>(handle_), stop.WaitEvent()};
  const DWORD count = handles[1] != kNoWaitHandle ? 2 : 1;
  // kInfinite is INFINITE: no limit.
  switch (::WaitForMultipleObjects(count, handles, FALSE, ms)) {
    case WAIT_OBJECT_0:
      return Collect() ? WaitResult::kExited : WaitResult::kFailed;
    case WAIT_OBJECT_0 + 1:
      return WaitResult::kStopped;
    case WAIT_TIMEOUT:
      return WaitResult::kTimedOut;
    default:
      return WaitResult::kFailed;
  }
}

bool Process::Terminate() {
  if (handle_ == -1 || collected_) return false;
  // Windows has no polite request to end another program; this is the end.
  return ::TerminateProcess(reinterpret_cast<HANDLE>(handle_), 1) != 0;
}

std::string ProcessStartStamp(int pid) {
  if (pid <= 0) return "";
  // PROCESS_QUERY_INFORMATION: the limited right does not exist before Vista.
  HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return "";
  DWORD code = 0;
  FILETIME created{}, exited{}, kernel{}, user{};
  const bool running = ::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE &&
                       ::GetProcessTimes(process, &created, &exited, &kernel, &user);
  ::CloseHandle(process);
  if (!running) return "";
  return std::to_string((static_cast<unsigned long long>(created.dwHighDateTime) << 32) |
                        created.dwLowDateTime);
}

}  // namespace platform
