#pragma once
// One orsa-host process for a test, with its standard streams in files, and a
// wait for a text in its log.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TempStateRoot.h"

extern char** environ;

namespace obxtest {

// One orsa-host process with its standard streams in files.
class HostProcess {
 public:
  HostProcess(const TempStateRoot& root, const std::vector<std::string>& args)
      : HostProcess(root.Sub("host.out"), root.Sub("host.err"), args) {}
  // Standard output and error go to the files named.
  HostProcess(const std::string& out, const std::string& err, const std::vector<std::string>& args)
      : out_(out), err_(err) {
    std::vector<std::string> all{BinDir() + "/orsa-host"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) pid_ = -1;
  }
  ~HostProcess() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  pid_t pid() const { return pid_; }
  // The exit code once the process has ended within `bound`; -1 when it had
  // to be killed (then reaped), -2 when it ended by a signal.
  int WaitExit(std::chrono::seconds bound) {
    auto until = std::chrono::steady_clock::now() + bound;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > until) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        reaped_ = true;
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
  }
  int Threads() const {
    int n = 0;
    std::error_code ec;
    for (auto it =
             std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/task", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
      ++n;
    return n;
  }
  std::string Out() const { return ReadFile(out_); }
  std::string Err() const { return ReadFile(err_); }

 private:
  std::string out_, err_;
  pid_t pid_ = -1;
  bool reaped_ = false;
};

// Waits until `file` holds `text` or the process has ended; true when found.
inline bool WaitForLog(const std::string& file, const std::string& text, const HostProcess& process,
                       std::chrono::seconds bound) {
  auto until = std::chrono::steady_clock::now() + bound;
  while (std::chrono::steady_clock::now() < until) {
    if (ReadFile(file).find(text) != std::string::npos) return true;
    if (kill(process.pid(), 0) != 0) break;
    int status;
    if (waitpid(process.pid(), &status, WNOHANG) != 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return ReadFile(file).find(text) != std::string::npos;
}

}  // namespace obxtest
