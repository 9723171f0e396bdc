// What one patch cycle spends its time on: registry reads and durable writes,
// sealing and opening documents, and the document store's write-through.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "BenchRoot.h"
#include "foundation/Cipher.h"
#include "foundation/PatchPolicyManager.h"
#include "foundation/SettingsStore.h"

namespace {

using Bench = obxbench::BenchRoot;

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

}  // namespace
