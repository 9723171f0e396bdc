// The cycle's policy and task steps over N tasks shaped like the demo's patch
// task, on a Release build: the first cycle of a new policy (the policy
// stored, N entries inserted, every task walked, none in its download window)
// and the steady state (the policy current, every task done). Each prints,
// per cycle, the state files replaced and the flushes to disk.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "BenchRoot.h"
#include "cycle/PolicyUpdate.h"
#include "platform/File.h"
#include "sysinfo/OsInfo.h"
#include "tasks/TaskManager.h"

namespace {

using obxbench::BenchRoot;

std::string PolicyOf(int tasks, const std::string& window) {
  std::string policy = "<patchs version=\"bench\">";
  for (int i = 0; i < tasks; ++i) policy += obxbench::PatchTask(10000 + i, window);
  return policy + "</patchs>";
}

// Runs the two steps `state` times and reports the writes per cycle.
template <class Fetch>
void RunCycles(benchmark::State& state, const Fetch& fetch, const std::function<void()>& reset) {
  uint64_t replaced = 0, flushes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    reset();
    const platform::FileWriteCounts before = platform::GetFileWriteCounts();
    state.ResumeTiming();
    obx::UpdatePolicyWith(fetch);
    obx::TaskExecute();
    const platform::FileWriteCounts after = platform::GetFileWriteCounts();
    replaced += after.replaced - before.replaced;
    flushes += after.flushes - before.flushes;
  }
  const double cycles = static_cast<double>(state.iterations());
  state.counters["files_replaced"] = static_cast<double>(replaced) / cycles;
  state.counters["flushes"] = static_cast<double>(flushes) / cycles;
  state.SetComplexityN(state.range(0));
}

void BM_FirstCycle(benchmark::State& state) {
  BenchRoot bench;
  obx::SetOsInfoForTest("winxp", "sp3", "en");
  const std::string policy = PolicyOf(static_cast<int>(state.range(0)), "0-0");
  auto fetch = [&policy](const std::string&, const std::string&, const std::string&,
                         const std::string&, std::string& answer) {
    answer = policy;
    return true;
  };
  RunCycles(state, fetch, [&bench] {
    std::filesystem::remove(bench.install() + "/TaskList.xml");
    std::filesystem::remove(bench.install() + "/PatchPolicy.xml");
  });
  obx::SetOsInfoForTest("", "", "");
}
BENCHMARK(BM_FirstCycle)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(2000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_SteadyCycle(benchmark::State& state) {
  BenchRoot bench;
  obx::SetOsInfoForTest("winxp", "sp3", "en");
  const int tasks = static_cast<int>(state.range(0));
  std::string taskList = "<patchs>";
  for (int i = 0; i < tasks; ++i) taskList += obxbench::DoneEntry(10000 + i);
  bench.StoreSealed("PatchPolicy.xml", PolicyOf(tasks, "0-24"));
  bench.StoreSealed("TaskList.xml", taskList + "</patchs>");
  // The server finds the stored version current and answers nothing.
  auto fetch = [](const std::string&, const std::string&, const std::string&, const std::string&,
                  std::string& answer) {
    answer.clear();
    return true;
  };
  RunCycles(state, fetch, [] {});
  obx::SetOsInfoForTest("", "", "");
}
BENCHMARK(BM_SteadyCycle)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(2000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
