#pragma once
// Starting programs and waiting for them, as CreateProcess and
// WaitForSingleObject do on Windows.
//
// The program. A command line is split by the Windows rules (SplitCommandLine)
// and its first word names the program: a word with "\" or "/" in it, or a
// drive ("C:..."), is a path and goes through NativePath; a bare name is
// searched on PATH. The child gets the caller's environment, current folder
// and standard input, output and error, and no other descriptor (Windows:
// handles not inherited). It starts with an empty signal mask and every signal
// at its default action: orsa-host blocks SIGTERM and SIGINT in all its
// threads and ignores SIGPIPE, and a child would otherwise keep both across
// exec and could be neither stopped nor interrupted.
//
// On Windows, Start hands the command line unchanged to CreateProcessA, which
// finds the program by its own rules (an unquoted path with blanks included);
// the child starts on the interactive desktop "WinSta0\Default" and inherits
// no handle.
//
// The wait runs in real time (the child does), not on the injectable clock,
// and watches the calling thread's quit request (platform/StopToken.h): on
// Windows it is WaitForMultipleObjects on the process and the request's
// event; on Linux a poll on the child's pidfd and the request's eventfd; on a
// system without pidfds it looks at the child every few tens of milliseconds.
//
// No zombie, ever. A child still running when its Process object goes away
// (its wait timed out or was stopped) keeps running; it is handed to a reaper
// of the platform, one small detached thread per such child, which collects
// its exit status the moment it ends. Should no thread be available, the child
// is collected by the next Start or destruction of a Process in the process.
//
// Threads: one Process object is used by one thread; different objects may be
// used on different threads at once. Nothing here throws.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Export.h"
#include "platform/WinError.h"

namespace platform {

// The words of a command line by the rules of CommandLineToArgvW. The first
// word (the program) ends at the first blank or tab, or, when it starts with a
// double quote, at the next double quote, with no escapes. In later words,
// blanks and tabs separate words outside double quotes; 2n backslashes before
// a quote give n backslashes and the quote opens or closes a quoted part;
// 2n+1 backslashes before a quote give n backslashes and a literal quote;
// backslashes elsewhere are literal; a quote that closes a quoted part and is
// followed by another quote gives a literal quote. An empty text gives no word.
PLATFORM_EXPORT std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// The native path of a program as Process::Start would run it: a path through
// NativePath (whether or not it exists), a bare name as found on PATH (the
// first match that is an executable regular file), "" when not found.
PLATFORM_EXPORT std::string FindProgram(const std::string& program);

// A text that tells one running process from every other that had or will
// have the same id: its start time as the system keeps it, in decimal. "" when
// no process `pid` runs (also for one that has ended but is not yet
// collected). Together with the id, it tells a later run of the agent whether
// a program it started is still running.
PLATFORM_EXPORT std::string ProcessStartStamp(int pid);

struct ProcessOptions {
  // Run at a higher priority, as HIGH_PRIORITY_CLASS asks, where the system
  // allows it (raising a priority usually needs privileges); a refusal is
  // ignored and the child runs at the normal priority.
  bool highPriority = false;
  // The program is a file this agent has downloaded: files arrive without
  // execute permission, so a regular file that has none gets execute
  // permission wherever it has read permission. A file that already has some
  // execute bit, or that cannot be changed, is left as it is. Nothing to do
  // on Windows.
  bool makeExecutable = false;
};

enum class WaitResult {
  kExited,    // the child ended; ExitCode() tells how
  kTimedOut,  // the time ran out; the child keeps running
  kStopped,   // the quit request came first; the child keeps running
  kFailed,    // no child, or the system refused the wait
};

class PLATFORM_EXPORT Process {
 public:
  Process() = default;
  // A child not yet collected is left running and handed to the reaper.
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Starts the command line. kErrorSuccess, or a Windows code:
  // kErrorFileNotFound (2) for a program that does not exist (also when a
  // folder on its path is missing), kErrorPathNotFound when a part of its path
  // is a file, kErrorAccessDenied for one that may not be executed (or is a
  // folder), kErrorBadExeFormat for a file the system cannot run,
  // kErrorInvalidParameter for a command line without a program or an object
  // that already started one.
  long Start(const std::string& commandLine, const ProcessOptions& options = ProcessOptions());
  // The same with the words given (argv[0] names the program); nothing is split.
  long StartArgs(const std::vector<std::string>& args,
                 const ProcessOptions& options = ProcessOptions());

  // Waits up to `ms` milliseconds (kInfinite: until the child ends or the quit
  // request comes). A request made before the call returns kStopped at once
  // unless the child has already ended.
  WaitResult Wait(uint32_t ms);
  // After kExited: the child's exit status, or 128 + the signal number for a
  // child ended by a signal. 0 before.
  uint32_t ExitCode() const { return exitCode_; }
  // The child's process id while this object holds one; 0 otherwise.
  int Id() const { return collected_ ? 0 : pid_; }
  // Asks a running child to end (SIGTERM; on Windows TerminateProcess, exit
  // code 1); true when the request was sent. The child is still collected by
  // Wait or by the reaper.
  bool Terminate();

 private:
  // Takes the child's exit status if it has ended; true then.
  bool Collect();

  int pid_ = 0;
  intptr_t handle_ = -1;  // the child: a pidfd on Linux, the process HANDLE on Windows
  bool collected_ = false;
  uint32_t exitCode_ = 0;
};

}  // namespace platform
