#include "platform/Process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/StateRoot.h"
#include "platform/StopToken.h"
#include "platform/posix/PosixError.h"

extern char** environ;

namespace platform {

namespace {

// How often a wait looks at the child where no pidfd can be had.
constexpr int kPollSliceMs = 20;
// HIGH_PRIORITY_CLASS is five steps above the normal class of Windows' scale;
// the nice scale is twice as fine.
constexpr int kHighPriorityNiceStep = 10;

bool IsPathWord(const std::string& word) {
  return word.find_first_of("\\/") != std::string::npos || (word.size() >= 2 && word[1] == ':');
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

void MakeExecutable(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  if ((st.st_mode & 0111) != 0) return;
  // Execute wherever read is allowed; failure leaves the spawn to report it.
  (void)::chmod(path.c_str(), (st.st_mode & 07777) | ((st.st_mode & 0444) >> 2));
}

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  // A pidfd is close-on-exec from the start.
  const long fd = ::syscall(SYS_pidfd_open, pid, 0);
  if (fd >= 0) return static_cast<int>(fd);
#endif
  return -1;
}

// Children that no reaper thread could be made for; collected by later calls.
// Never destroyed, so no exit-time destructor can race a late caller.
struct Leftovers {
  std::mutex mutex;
  std::vector<pid_t> pids;
};

Leftovers& TheLeftovers() {
  static Leftovers* leftovers = new Leftovers;
  return *leftovers;
}

void CollectLeftovers() {
  Leftovers& l = TheLeftovers();
  std::lock_guard<std::mutex> lock(l.mutex);
  l.pids.erase(std::remove_if(l.pids.begin(), l.pids.end(),
                              [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; }),
               l.pids.end());
}

void BlockingReap(pid_t pid) {
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

void HandToReaper(pid_t pid) {
  try {
    std::thread(BlockingReap, pid).detach();
    return;
  } catch (...) {
    // No thread to spare: the next Start or destruction collects it.
  }
  Leftovers& l = TheLeftovers();
  std::lock_guard<std::mutex> lock(l.mutex);
  l.pids.push_back(pid);
}

// Owns the spawn attributes for one call.
class SpawnSetup {
 public:
  SpawnSetup() {
    ok_ = ::posix_spawnattr_init(&attr_) == 0;
    if (!ok_) return;
    ok_ = ::posix_spawn_file_actions_init(&actions_) == 0;
    if (!ok_) {
      ::posix_spawnattr_destroy(&attr_);
      return;
    }
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    ok_ = ::posix_spawnattr_setsigmask(&attr_, &none) == 0 &&
          ::posix_spawnattr_setsigdefault(&attr_, &all) == 0 &&
          ::posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0 &&
          ::posix_spawn_file_actions_addclosefrom_np(&actions_, 3) == 0;
  }
  ~SpawnSetup() {
    ::posix_spawn_file_actions_destroy(&actions_);
    ::posix_spawnattr_destroy(&attr_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  bool ok() const { return ok_; }
  const posix_spawnattr_t* attr() const { return &attr_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }

 private:
  bool ok_ = false;
  posix_spawnattr_t attr_;
  posix_spawn_file_actions_t actions_;
};

void RaisePriority(pid_t pid) {
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, 0);
  if (nice == -1 && errno != 0) return;
  (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(pid),
                      std::max(-20, nice - kHighPriorityNiceStep));
}

uint32_t ExitCodeOf(int status) {
  if (WIFEXITED(status)) return static_cast<uint32_t>(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return 128u + static_cast<uint32_t>(WTERMSIG(status));
  return 0;
}

}  // namespace

std::string FindProgram(const std::string& program) {
  if (program.empty()) return "";
  if (IsPathWord(program)) return NativePath(program);
  const char* path = std::getenv("PATH");
  const std::string dirs = path != nullptr && *path != '\0' ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + program;
    if (IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return "";
}

Process::~Process() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  if (pid_ > 0 && !collected_) HandToReaper(pid_);
  CollectLeftovers();
}

long Process::Start(const std::string& commandLine, const ProcessOptions& options) {
  return StartArgs(SplitCommandLine(commandLine), options);
}

long Process::StartArgs(const std::vector<std::string>& args, const ProcessOptions& options) {
  CollectLeftovers();
  if (pid_ != 0 || args.empty() || args[0].empty()) return kErrorInvalidParameter;
  const std::string program = FindProgram(args[0]);
  if (program.empty()) return kErrorFileNotFound;
  if (options.makeExecutable) MakeExecutable(program);

  SpawnSetup setup;
  if (!setup.ok()) return kErrorNotEnoughMemory;
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int error =
      ::posix_spawn(&pid, program.c_str(), setup.actions(), setup.attr(), argv.data(), environ);
  if (error != 0) return WindowsErrorFromErrno(error);
  pid_ = pid;
  handle_ = OpenPidFd(pid);
  if (options.highPriority) RaisePriority(pid);
  return kErrorSuccess;
}

bool Process::Collect() {
  int status = 0;
  pid_t got;
  do {
    got = ::waitpid(pid_, &status, WNOHANG);
  } while (got < 0 && errno == EINTR);
  if (got == 0) return false;
  // got < 0 (ECHILD): the status went elsewhere (SIGCHLD ignored); the child
  // has ended all the same, with an unknown exit code.
  collected_ = true;
  exitCode_ = got == pid_ ? ExitCodeOf(status) : 0;
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
  return true;
}

WaitResult Process::Wait(uint32_t ms) {
  if (pid_ <= 0) return WaitResult::kFailed;
  if (collected_ || Collect()) return WaitResult::kExited;
  const StopToken stop = CurrentStopToken();
  const WaitHandle stopFd = stop.WaitEvent();
  if (stop.StopRequested()) return WaitResult::kStopped;

  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    int timeout = -1;
    if (ms != kInfinite) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return WaitResult::kTimedOut;
      timeout = static_cast<int>(std::min<long long>(left, INT_MAX));
    }
    if (handle_ < 0) timeout = timeout < 0 ? kPollSliceMs : std::min(timeout, kPollSliceMs);
    pollfd fds[2];
    nfds_t count = 0;
    if (handle_ >= 0) fds[count++] = {static_cast<int>(handle_), POLLIN, 0};
    if (stopFd >= 0) fds[count++] = {stopFd, POLLIN, 0};
    if (::poll(fds, count, timeout) < 0 && errno != EINTR) return WaitResult::kFailed;
    if (Collect()) return WaitResult::kExited;
    if (stop.StopRequested()) return WaitResult::kStopped;
  }
}

bool Process::Terminate() {
  if (pid_ <= 0 || collected_) return false;
  return ::kill(pid_, SIGTERM) == 0;
}

std::string ProcessStartStamp(int pid) {
  if (pid <= 0) return "";
  FILE* file = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "re");
  if (file == nullptr) return "";
  char buffer[1024];
  const size_t n = std::fread(buffer, 1, sizeof buffer - 1, file);
  std::fclose(file);
  buffer[n] = '\0';
  // The name in parentheses may hold anything; the fields follow its last ")":
  // state is the 3rd field, the start time (ticks since boot) the 22nd.
  const char* close = std::strrchr(buffer, ')');
  if (close == nullptr) return "";
  char state = 0;
  unsigned long long start = 0;
  if (std::sscanf(
          close + 1,
          " %c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d %llu",
          &state, &start) != 2)
    return "";
  if (state == 'Z' || state == 'X') return "";
  return std::to_string(start);
}

}  // namespace platform
