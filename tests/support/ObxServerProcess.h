#pragma once
// One obx-server process for one test: started with `serve --listen
// 127.0.0.1:0`, its port read from the port file in the state root, stopped
// with SIGTERM (or a chosen signal) and reaped. Its standard output and error
// go to files in the state root. Destroying a running server expects a clean stop.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempStateRoot.h"

namespace obxtest {

class ObxServerProcess {
 public:
  // `extra`: the options after `serve --listen LISTEN --port-file F`. Its
  // files in the root are named after `name` (server.port, server.err, ...).
  ObxServerProcess(const TempStateRoot& root, std::vector<std::string> extra,
                   const std::string& listen = "127.0.0.1:0", const std::string& name = "server")
      : portFile_(root.Sub(name + ".port")), errFile_(root.Sub(name + ".err")) {
    std::filesystem::remove(portFile_);
    std::vector<std::string> args = {"serve", "--listen", listen, "--port-file", portFile_};
    args.insert(args.end(), extra.begin(), extra.end());
    pid_ = StartChild(BinDir() + "/obx-server", args, root.Sub(name + ".out"), errFile_);
    // Readiness: the port file appears only once the socket listens. A server
    // that dies, or is not ready within a minute, leaves Port() at 0.
    for (int i = 0; pid_ > 0 && i < 6000 && port_ == 0; ++i) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      const std::string text = ReadFile(portFile_);
      if (!text.empty() && text.back() == '\n') port_ = std::atoi(text.c_str());
      if (port_ == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~ObxServerProcess() {
    if (pid_ > 0) {
      EXPECT_EQ(Stop(), 0) << "obx-server did not stop cleanly:\n" << Stderr();
    }
  }
  ObxServerProcess(const ObxServerProcess&) = delete;
  ObxServerProcess& operator=(const ObxServerProcess&) = delete;

  int Port() const { return port_; }
  pid_t Pid() const { return pid_; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::string Stderr() const { return ReadFile(errFile_); }

  // The exit code after `sig` (-1 when it did not exit normally).
  int Stop(int sig = SIGTERM) {
    if (pid_ <= 0) return exit_;
    ::kill(pid_, sig);
    exit_ = WaitChild(pid_);
    pid_ = -1;
    return exit_;
  }

 private:
  std::string portFile_;
  std::string errFile_;
  pid_t pid_ = -1;
  int port_ = 0;
  int exit_ = -1;
};

}  // namespace obxtest
