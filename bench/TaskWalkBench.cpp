// One cycle's task step on a machine whose tasks are all done (the steady
// state): the step as the cycle runs it (settings, both sealed documents
// opened, the walk with its two log lines per task), and the walk alone.
#include <benchmark/benchmark.h>
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
#include "tasks/TaskManager.h"

namespace {

// A state root whose install folder holds a policy and a task list of `tasks`
// done tasks, and a runtime with the host's real services logging to a file.
class DoneTasks {
 public:
  explicit DoneTasks(int tasks) {
    std::string dir = std::filesystem::temp_directory_path().string() + "/obx-bench-XXXXXX";
    root_ = mkdtemp(dir.data()) ? dir : std::string();
    setenv("ORSA_ROOT", root_.c_str(), 1);
    orsahost::LogOptions options;
    options.file = root_ + "/bench.log";
    runtime_ =
        std::make_unique<orsahost::Runtime>(boost::make_shared<orsahost::LogManager>(options));
    orsahost::RegisterHostServices(runtime_->context());
    obx::SetRuntime(runtime_.get());

    const std::string install = root_ + "/obx";
    std::filesystem::create_directories(install);
    obx::WriteRegString(obx::HKLM, obx::kModuleKey, "InstallPath", install);
    obx::CaptureModuleFolder();
    std::string policy = "<patchs version=\"bench\">";
    std::string taskList = "<patchs>";
    for (int i = 0; i < tasks; ++i) {
      const std::string id = "\"" + std::to_string(10000 + i) + "\"";
      policy += "<patch policyid=" + id +
                "><check_os valid=\"windows\" validversion=\"xp-sp3-en;xp-sp3-zh\"/>"
                "<bootdownload url=\"boot/pick.exe\" md5=\"4c347eaaa25c9b568284bb360b2a0623\" "
                "type=\"p2p;http\" validtime=\"0-24\"/>"
                "<download url=\"p/kb-a.exe;p/kb-b.exe\" filename=\"kb-a.exe;kb-b.exe\" "
                "md5=\"07af9591c3e14b63d3cd93af4528ca89;76a72a509883cf892a803fa18458a373\" "
                "type=\"p2p;http\" validtime=\"0-24\"/><exec runtype=\"1\" runargs=\"/q\" "
                "deadlinetime=\"2020-01-01 00:00\" firstruntime=\"0\" randomtime=\"1\"/>"
                "<msgbox style=\"okonly\" en=\"A patch will be installed now.\"/></patch>";
      taskList += "<patch policyid=" + id +
                  "><PatchExecute status=\"done\" times=\"1\"/>"
                  "<bootdownload status=\"true\" md5=\"4c347eaaa25c9b568284bb360b2a0623\" "
                  "downloadType=\"http\"/><download status=\"true\" "
                  "md5=\"07af9591c3e14b63d3cd93af4528ca89\" downloadType=\"http\"/>"
                  "<Installation result=\"\" repeat=\"false\"/><bootrun result=\"true\"/>"
                  "<versionReport status=\"true\"/></patch>";
    }
    Store(install + "/PatchPolicy.xml", policy + "</patchs>");
    Store(install + "/TaskList.xml", taskList + "</patchs>");
  }
  ~DoneTasks() {
    obx::SetRuntime(nullptr);
    runtime_.reset();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

 private:
  static void Store(const std::string& path, const std::string& xml) {
    std::string sealed;
    obx::EncryptText(obx::kPassphrase, sealed, xml.data(), xml.size());
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return;
    std::fwrite(sealed.data(), 1, sealed.size(), f);
    std::fclose(f);
  }

  std::string root_;
  std::unique_ptr<orsahost::Runtime> runtime_;
};

void BM_TaskExecuteAllDone(benchmark::State& state) {
  DoneTasks tasks(static_cast<int>(state.range(0)));
  for (auto _ : state) obx::TaskExecute();
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_TaskExecuteAllDone)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_RunTaskListAllDone(benchmark::State& state) {
  DoneTasks tasks(static_cast<int>(state.range(0)));
  obx::TaskManager manager;
  if (!manager.InitTask()) state.SkipWithError("the task list did not load");
  for (auto _ : state) manager.RunTaskList();
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_RunTaskListAllDone)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
