#pragma once
// A fresh state root with an install folder, and a runtime with the host's
// real services (logging to a file in the root), for one benchmark.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <boost/make_shared.hpp>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Cipher.h"
#include "foundation/Runtime.h"
#include "foundation/SettingsStore.h"
#include "host/Runtime.h"
#include "host/services/HostServices.h"
#include "host/services/LogManager.h"
#include "platform/File.h"
#include "platform/Registry.h"

extern char** environ;

namespace obxbench {

class BenchRoot {
 public:
  BenchRoot() {
    std::string dir = std::filesystem::temp_directory_path().string() + "/obx-bench-XXXXXX";
    root_ = mkdtemp(dir.data()) ? dir : std::string();
    setenv("ORSA_ROOT", root_.c_str(), 1);
    orsahost::LogOptions options;
    options.file = root_ + "/bench.log";
    runtime_ =
        std::make_unique<orsahost::Runtime>(boost::make_shared<orsahost::LogManager>(options));
    orsahost::RegisterHostServices(runtime_->context());
    obx::SetRuntime(runtime_.get());
    install_ = root_ + "/obx";
    std::filesystem::create_directories(install_);
    obx::WriteRegString(obx::HKLM, obx::kModuleKey, "InstallPath", install_);
    obx::CaptureModuleFolder();
  }
  ~BenchRoot() {
    obx::SetRuntime(nullptr);
    runtime_.reset();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  BenchRoot(const BenchRoot&) = delete;
  BenchRoot& operator=(const BenchRoot&) = delete;

  const std::string& root() const { return root_; }
  const std::string& install() const { return install_; }

  // Stores `xml` sealed in the install folder as `name`.
  void StoreSealed(const std::string& name, const std::string& xml) const {
    std::string sealed;
    obx::EncryptText(obx::kPassphrase, sealed, xml.data(), xml.size());
    platform::ReplaceFileAtomically(install_ + "/" + name, sealed);
  }

 private:
  std::string root_;
  std::string install_;
  std::unique_ptr<orsahost::Runtime> runtime_;
};

// obx-server on a free loopback port for the life of the object, recording
// into a database in `folder`, with further serve options `options` (a policy
// folder, a repository); the executable is looked up beside the benchmark's.
class LoopbackServer {
 public:
  LoopbackServer(const std::string& folder, const std::vector<std::string>& options) {
    const std::string bin = std::filesystem::canonical("/proc/self/exe").parent_path().string();
    const std::string portFile = folder + "/port";
    std::vector<std::string> args = {
        bin + "/obx-server", "serve",  "--listen", "127.0.0.1:0",
        "--port-file",       portFile, "--db",     folder + "/reports.db"};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, argv[0], &quiet, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&quiet);
    for (int i = 0; i < 500 && pid_ > 0 && port_ == 0; ++i) {
      std::ifstream in(portFile);
      in >> port_;
      if (port_ == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~LoopbackServer() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  // 0 when the server did not start.
  int port() const { return port_; }

  // Points the agent's management-server settings at this server.
  void Configure() const {
    obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, "server", "127.0.0.1");
    platform::RegKey key = nullptr;
    if (platform::CreateRegKey(platform::RegRoot::kLocalMachine, obx::kManagementServerKey,
                               platform::kKeyAllAccess, &key) == platform::kErrorSuccess) {
      const uint32_t port = static_cast<uint32_t>(port_);
      platform::SetRegValue(key, "port", platform::kRegDword,
                            reinterpret_cast<const unsigned char*>(&port), sizeof port);
      platform::CloseRegKey(key);
    }
    for (const char* operation :
         {"updatePatchPolicy", "uploadExecuteStatus", "uploadExecuteResult"})
      obx::WriteRegString(obx::HKLM, obx::kManagementServerKey, operation, "/obx");
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// The policy entry of a task shaped like the demo's patch task; `window` is
// the hours its programs may be fetched in.
inline std::string PatchTask(int id, const std::string& window = "0-24") {
  return "<patch policyid=\"" + std::to_string(id) +
         "\"><check_os valid=\"windows\" validversion=\"xp-sp3-en;xp-sp3-zh\"/>"
         "<bootdownload url=\"boot/pick.exe\" md5=\"4c347eaaa25c9b568284bb360b2a0623\" "
         "type=\"p2p;http\" validtime=\"" +
         window +
         "\"/><download url=\"p/kb-a.exe;p/kb-b.exe\" filename=\"kb-a.exe;kb-b.exe\" "
         "md5=\"07af9591c3e14b63d3cd93af4528ca89;76a72a509883cf892a803fa18458a373\" "
         "type=\"p2p;http\" validtime=\"" +
         window +
         "\"/><exec runtype=\"1\" runargs=\"/q\" deadlinetime=\"2020-01-01 00:00\" "
         "firstruntime=\"0\" randomtime=\"1\"/><msgbox style=\"okonly\" en=\"A patch will be "
         "installed now.\"/></patch>";
}

// The task-list entry of a task that is done.
inline std::string DoneEntry(int id) {
  return "<patch policyid=\"" + std::to_string(id) +
         "\"><PatchExecute status=\"done\" times=\"1\"/>"
         "<bootdownload status=\"true\" md5=\"4c347eaaa25c9b568284bb360b2a0623\" "
         "downloadType=\"http\"/><download status=\"true\" "
         "md5=\"07af9591c3e14b63d3cd93af4528ca89\" downloadType=\"http\"/>"
         "<Installation result=\"\" repeat=\"false\"/><bootrun result=\"true\"/>"
         "<versionReport status=\"true\"/></patch>";
}

}  // namespace obxbench
