// What one patch cycle spends its time on: registry reads and durable writes,
// sealing and opening documents, and the document store's write-through.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <boost/make_shared.hpp>
#include <cstdio>
#include <filesystem>
#include <string>

#include "foundation/Cipher.h"
#include "foundation/PatchPolicyManager.h"
#include "foundation/Runtime.h"
#include "foundation/SettingsStore.h"
#include "host/Runtime.h"
#include "host/HostServices.h"
#include "host/LogManager.h"

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
    runtime_ = std::make_unique<orsahost::Runtime>(boost::make_shared<orsahost::LogManager>(options));
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
  for (auto _ : state) benchmark::DoNotOptimize(obx::ReadRegString(obx::HKLM, kKey, "bootCheckResult"));
}
BENCHMARK(BM_ReadRegString);

// Every write is flushed to disk before it returns.
void BM_WriteRegString(benchmark::State& state) {
  Bench bench;
  for (auto _ : state) obx::WriteRegString(obx::HKLM, kKey, "Result1", "Running ...");
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

// One attribute change prints, seals and durably replaces the whole task list.
void BM_TaskListSetAttribute(benchmark::State& state) {
  Bench bench;
  obx::PatchPolicyManager store;
  std::string path = bench.root() + "/TaskList.xml";
  store.Load(path, true);
  for (int id = 0; id < state.range(0); ++id)
    store.SetAttribute(std::to_string(id), "PatchExecute", "status", "to_be_executed");
  int n = 0;
  for (auto _ : state)
    store.SetAttribute("0", "PatchExecute", "times", std::to_string(++n).c_str());
}
BENCHMARK(BM_TaskListSetAttribute)->Arg(1)->Arg(100);

}  // namespace
