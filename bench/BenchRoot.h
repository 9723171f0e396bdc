#pragma once
// A fresh state root with an install folder, and a runtime with the host's
// real services (logging to a file in the root), for one benchmark.
#include <stdlib.h>

#include <boost/make_shared.hpp>
#include <filesystem>
#include <memory>
#include <string>

#include "foundation/Cipher.h"
#include "foundation/Runtime.h"
#include "foundation/SettingsStore.h"
#include "host/HostServices.h"
#include "host/LogManager.h"
#include "host/Runtime.h"
#include "platform/File.h"

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
