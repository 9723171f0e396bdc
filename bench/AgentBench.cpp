// What one patch cycle spends its time on: registry reads and durable writes,
// sealing and opening documents, and the document store's write-through.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <boost/make_shared.hpp>
#include <cstdio>
#include <filesystem>
#include <string>

#include "cycle/PolicyUpdate.h"
#include "foundation/Cipher.h"
#include "foundation/PatchPolicyManager.h"
#include "foundation/Runtime.h"
#include "foundation/SettingsStore.h"
#include "host/HostServices.h"
#include "host/LogManager.h"
#include "host/Runtime.h"
#include "sysinfo/OsInfo.h"

namespace {

// A state root and a runtime with the host's real services, for one benchmark.
class Bench {
 public:
  Bench() {
    std::string dir = std::filesystem::temp_directory_path().string() + "/obx-bench-XXXXXX";
    root_ = mkdtemp(dir.data()) ? dir : std::string();
    setenv("ORSA_ROOT", root_.c_str(), 1);
    orsahost::LogOptions options;
    options.file = root_ + "/bench.log";
    runtime_ =
        std::make_unique<orsahost::Runtime>(boost::make_shared<orsahost::LogManager>(options));
    orsahost::RegisterHostServices(runtime_->context());
    obx::SetRuntime(runtime_.get());
  }
  ~Bench() {
    obx::SetRuntime(nullptr);
    runtime_.reset();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  const std::string& root() const { return root_; }

 private:
  std::string root_;
  std::unique_ptr<orsahost::Runtime> runtime_;
};

const char kKey[] = "SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\ZEB\\OBX\\PatchInfo\\1001";

void BM_ReadRegString(benchmark::State& state) {
  Bench bench;
  obx::WriteRegString(obx::HKLM, kKey, "bootCheckResult", "true");
  for (auto _ : state)
    benchmark::DoNotOptimize(obx::ReadRegString(obx::HKLM, kKey, "bootCheckResult"));
}
BENCHMARK(BM_ReadRegString);

// Every write is flushed to disk before it returns; the value changes each
// time, so every write really reaches the disk.
void BM_WriteRegString(benchmark::State& state) {
  Bench bench;
  int n = 0;
  for (auto _ : state)
    obx::WriteRegString(obx::HKLM, kKey, "Result1", "Running ... " + std::to_string(++n));
}
BENCHMARK(BM_WriteRegString);

void BM_SealAndOpen(benchmark::State& state) {
  Bench bench;
  std::string text;
  while (text.size() < static_cast<size_t>(state.range(0)))
    text += "<patch policyid=\"1001\"><bootdownload status=\"false\" md5=\"\" /></patch>\n";
  for (auto _ : state) {
    std::string sealed, opened;
    obx::EncryptText(obx::kPassphrase, sealed, text.data(), text.size());
    obx::DecryptText(obx::kPassphrase, opened, sealed);
    benchmark::DoNotOptimize(opened);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_SealAndOpen)->Arg(4 << 10)->Arg(256 << 10);

// One attribute change prints, seals and durably replaces the whole task list,
// here of N entries of a real task's size.
void BM_TaskListSetAttribute(benchmark::State& state) {
  Bench bench;
  obx::PatchPolicyManager store;
  std::string path = bench.root() + "/TaskList.xml";
  store.Load(path, true);
  {
    obx::PatchPolicyManager::Batch batch(store);
    for (int id = 0; id < state.range(0); ++id) {
      const std::string task = std::to_string(1000 + id);
      for (const auto& v :
           {std::make_pair("PatchExecute", "status"), std::make_pair("PatchExecute", "times"),
            std::make_pair("bootdownload", "status"), std::make_pair("bootdownload", "md5"),
            std::make_pair("download", "status"), std::make_pair("download", "md5"),
            std::make_pair("Installation", "result"), std::make_pair("Installation", "repeat"),
            std::make_pair("versionReport", "status")})
        store.SetAttribute(task, v.first, v.second, "4c347eaaa25c9b568284bb360b2a0623");
    }
  }
  int n = 0;
  for (auto _ : state)
    store.SetAttribute("1000", "PatchExecute", "times", std::to_string(++n).c_str());
}
BENCHMARK(BM_TaskListSetAttribute)->Arg(1)->Arg(100)->Arg(1000);

// The task list brought in line with a new policy of N tasks shaped like the
// demo's patch task: the policy stored, N entries inserted, one write each.
void BM_AlignNewPolicy(benchmark::State& state) {
  Bench bench;
  obx::WriteRegString(obx::HKLM, obx::kModuleKey, "InstallPath", bench.root());
  obx::CaptureModuleFolder();
  obx::SetOsInfoForTest("winxp", "sp3", "en");
  std::string policy = "<patchs version=\"1\">";
  for (int id = 0; id < state.range(0); ++id) {
    policy += "<patch policyid=\"" + std::to_string(1000 + id) +
              "\"><check_os valid=\"windows\" validversion=\"xp-sp3-en\"/>"
              "<bootdownload url=\"boot/pick.sh\" md5=\"4c347eaaa25c9b568284bb360b2a0623\" "
              "type=\"http\" validtime=\"0-24\"/><download url=\"p/a.sh;p/b.sh\" "
              "filename=\"a.sh;b.sh\" md5=\"07af9591c3e14b63d3cd93af4528ca89;"
              "76a72a509883cf892a803fa18458a373\" type=\"http\" validtime=\"0-24\"/>"
              "<exec runtype=\"0\" runargs=\"/quiet\" deadlinetime=\"2020-01-01 00:00\" "
              "firstruntime=\"0\" randomtime=\"0\"/></patch>";
  }
  policy += "</patchs>";
  auto fetch = [&policy](const std::string&, const std::string&, const std::string&,
                         const std::string&, std::string& answer) {
    answer = policy;
    return true;
  };
  for (auto _ : state) {
    std::filesystem::remove(bench.root() + "/TaskList.xml");
    std::filesystem::remove(bench.root() + "/PatchPolicy.xml");
    obx::UpdatePolicyWith(fetch);
  }
  state.SetComplexityN(state.range(0));
  obx::SetOsInfoForTest("", "", "");
}
BENCHMARK(BM_AlignNewPolicy)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(2000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
