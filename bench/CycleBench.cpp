// The cycle's policy and task steps over N tasks shaped like the demo's patch
// task, against obx-server on loopback: the first cycle of a new policy (the
// policy fetched and stored, N entries inserted, every task walked, none in
// its download window, one version record each uploaded) and the steady
// state (the policy current, every task done). Each prints, per cycle, the
// state files replaced and the flushes to disk. Beside them the floor: one
// parse, one seal and one durable write of the same documents.
#include <benchmark/benchmark.h>
#include <tinyxml.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "BenchRoot.h"
#include "cycle/HttpClientLease.h"
#include "cycle/PolicyUpdate.h"
#include "foundation/Cipher.h"
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

// A state root, and obx-server serving `policy` to it.
struct Setup {
  explicit Setup(const std::string& policy) {
    const std::string policies = bench.root() + "/policies";
    std::filesystem::create_directories(policies);
    std::ofstream(policies + "/default.xml", std::ios::binary) << policy;
    server = std::make_unique<obxbench::LoopbackServer>(
        bench.root(), std::vector<std::string>{"--policies", policies, "--service-path", "/obx"});
    server->Configure();
    obx::SetOsInfoForTest("winxp", "sp3", "en");
  }
  ~Setup() { obx::SetOsInfoForTest("", "", ""); }
  BenchRoot bench;
  std::unique_ptr<obxbench::LoopbackServer> server;
};

// Runs the two steps `state` times and reports the writes per cycle.
void RunCycles(benchmark::State& state, const std::function<void()>& reset) {
  uint64_t replaced = 0, flushes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    reset();
    const platform::FileWriteCounts before = platform::GetFileWriteCounts();
    state.ResumeTiming();
    {
      const obx::HttpClientLease httpClient;  // as the worker loop holds it
      obx::UpdatePolicy();
      obx::TaskExecute();
    }
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
  Setup setup(PolicyOf(static_cast<int>(state.range(0)), "0-0"));
  if (setup.server->port() == 0) state.SkipWithError("obx-server did not start");
  const std::string install = setup.bench.install();
  RunCycles(state, [&install] {
    for (const char* name : {"/TaskList.xml", "/PatchPolicy.xml", "/reportInfo.xml"})
      std::filesystem::remove(install + name);
  });
}
BENCHMARK(BM_FirstCycle)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(2000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_SteadyCycle(benchmark::State& state) {
  const int tasks = static_cast<int>(state.range(0));
  const std::string policy = PolicyOf(tasks, "0-24");
  Setup setup(policy);
  if (setup.server->port() == 0) state.SkipWithError("obx-server did not start");
  std::string taskList = "<patchs>";
  for (int i = 0; i < tasks; ++i) taskList += obxbench::DoneEntry(10000 + i);
  // The stored policy is the server's: it answers that it is current.
  setup.bench.StoreSealed("PatchPolicy.xml", policy);
  setup.bench.StoreSealed("TaskList.xml", taskList + "</patchs>");
  RunCycles(state, [] {});
}
BENCHMARK(BM_SteadyCycle)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(2000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// The floor of a cycle over N tasks: what no cycle can do without, on this
// machine. The policy and the task list of N tasks, each parsed once, sealed
// once and written once durably (a temporary file flushed and renamed).
// scripts/bench prints the cycles above as multiples of it.
void BM_Floor(benchmark::State& state) {
  const int tasks = static_cast<int>(state.range(0));
  std::string taskList = "<patchs>";
  for (int i = 0; i < tasks; ++i) taskList += obxbench::DoneEntry(10000 + i);
  const std::string documents[] = {PolicyOf(tasks, "0-24"), taskList + "</patchs>"};
  BenchRoot bench;
  for (auto _ : state) {
    for (const std::string& text : documents) {
      TiXmlDocument document;
      document.SetTabSize(0);  // as the agent parses: no row and column tracking
      document.Parse(text.c_str());
      if (document.Error()) state.SkipWithError("a document did not parse");
      std::string sealed;
      obx::EncryptText(obx::kPassphrase, sealed, text.data(), text.size());
      if (!platform::ReplaceFileAtomically(bench.install() + "/floor.xml", sealed))
        state.SkipWithError("the durable write failed");
    }
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_Floor)->Arg(1000)->Arg(2000)->Unit(benchmark::kMillisecond);

}  // namespace
