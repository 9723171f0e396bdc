// Downloads and digests of a large file, side by side with curl and md5sum:
// the host's HTTP downloader alone, with the MD5 and SHA-256 computed as it
// writes, and through the component's DownLoadFile (the transfer checked
// against both digests), from obx-server on loopback; the peak memory
// the process gains during the transfer; the streaming file MD5. Prints
// figures; never part of the test suite.
//
//   obx-transfer-bench [--megabytes N] [--runs N]   (obx-server found beside it)
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <boost/make_shared.hpp>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "BenchRoot.h"
#include "foundation/Digest.h"
#include "foundation/Runtime.h"
#include "foundation/SettingsStore.h"
#include "host/Runtime.h"
#include "host/services/Downloader.h"
#include "host/services/HostServices.h"
#include "host/services/LogManager.h"
#include "platform/Registry.h"
#include "transfer/OBXDownLoader.h"

namespace {

using Clock = std::chrono::steady_clock;

// The smallest of `runs` timings of `f`, in seconds.
double Best(int runs, const std::function<void()>& before, const std::function<bool()>& f) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    before();
    const auto start = Clock::now();
    if (!f()) {
      std::fprintf(stderr, "bench: a run failed\n");
      std::exit(1);
    }
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

long StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, std::strlen(field), field) == 0)
      return std::atol(line.c_str() + std::strlen(field));
  return -1;
}

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

void SetDword(const char* key, const char* name, uint32_t value) {
  platform::RegKey k = nullptr;
  platform::CreateRegKey(platform::RegRoot::kLocalMachine, key, platform::kKeyAllAccess, &k);
  platform::SetRegValue(k, name, platform::kRegDword, reinterpret_cast<unsigned char*>(&value), 4);
  platform::CloseRegKey(k);
}

}  // namespace

int main(int argc, char** argv) {
  long megabytes = 100;
  int runs = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--megabytes") == 0) megabytes = std::atol(argv[i + 1]);
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::atoi(argv[i + 1]);
  }
  const std::string bin = std::filesystem::canonical("/proc/self/exe").parent_path().string();
  std::string dir = std::filesystem::temp_directory_path().string() + "/obx-transfer-bench-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) return 1;
  setenv("ORSA_ROOT", dir.c_str(), 1);
  std::filesystem::create_directories(dir + "/repo");
  std::filesystem::create_directories(dir + "/download");

  // A file of random bytes.
  const std::string file = dir + "/repo/big.bin";
  {
    std::ofstream out(file, std::ios::binary);
    std::mt19937_64 random(42);
    std::vector<uint64_t> block(1 << 17);
    for (long mb = 0; mb < megabytes; ++mb) {
      for (uint64_t& v : block) v = random();
      out.write(reinterpret_cast<const char*>(block.data()), 1 << 20);
    }
  }
  std::string md5;
  std::string sha256;
  obx::GetFileMd5Hex(file, md5);
  obx::GetFileSha256Hex(file, sha256);

  // obx-server on a free loopback port.
  obxbench::LoopbackServer server(dir,
                                  {"--repository", dir + "/repo", "--repository-prefix", "/repo/"});
  const int port = server.port();
  if (port == 0) {
    std::fprintf(stderr, "bench: obx-server did not start\n");
    return 1;
  }
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/repo/big.bin";
  const std::string target = dir + "/download/big.bin";
  auto clear = [&] { std::filesystem::remove(target); };

  orsahost::Runtime runtime;
  orsahost::RegisterHostServices(runtime.context());
  obx::SetRuntime(&runtime);
  obx::WriteRegString(obx::HKLM, obx::kModuleKey, "FileSavedPath", dir + "/download");
  obx::WriteRegString(obx::HKLM, obx::kDownloadServerKey, "schema", "http");
  obx::WriteRegString(obx::HKLM, obx::kDownloadServerKey, "server", "127.0.0.1");
  obx::WriteRegString(obx::HKLM, obx::kDownloadServerKey, "QuorUpdatesRepair", "/repo");
  SetDword(obx::kDownloadServerKey, "port", static_cast<uint32_t>(port));
  orsahost::Downloader downloader;

  // The three take turns, so that the disk's write-back of one run weighs on
  // each of them alike.
  double curl = 1e9, service = 1e9, digesting = 1e9, whole = 1e9;
  long growthKb = 0;
  std::string used;
  for (int i = 0; i < runs; ++i) {
    curl =
        std::min(curl, Best(1, clear, [&] { return Run("curl -s -o '" + target + "' " + url); }));
    service = std::min(service,
                       Best(1, clear, [&] { return downloader.download(url, target, 1, 0) == 1; }));
    digesting = std::min(digesting, Best(1, clear, [&] {
                           orsa::net::FileDigests digests;
                           return downloader.downloadVerified(url, target, {}, digests) == 1 &&
                                  digests.md5 == md5 && digests.sha256 == sha256;
                         }));
    whole = std::min(whole, Best(
                                1,
                                [&] {
                                  clear();
                                  // Resets the peak to the current size.
                                  std::ofstream("/proc/self/clear_refs") << "5";
                                },
                                [&] {
                                  const long before = StatusKb("VmRSS:");
                                  const bool ok = obx::DownLoadFile("big.bin", "http", "big.bin",
                                                                    md5, used, sha256);
                                  growthKb = std::max(growthKb, StatusKb("VmHWM:") - before);
                                  return ok;
                                }));
  }

  const double md5sum = Best(
      runs, [] {}, [&] { return Run("md5sum '" + file + "' >/dev/null"); });
  const double digest = Best(
      runs, [] {},
      [&] {
        std::string out;
        return obx::GetFileMd5Hex(file, out) && out == md5;
      });

  obx::SetRuntime(nullptr);
  std::filesystem::remove_all(dir);

  const double mb = static_cast<double>(megabytes) * 1.048576;  // MB of 10^6 bytes
  std::printf("Transfer of %ld MiB from obx-server on loopback, best of %d interleaved runs\n",
              megabytes, runs);
  std::printf("  %-40s %8.3f s %8.0f MB/s\n", "curl -o", curl, mb / curl);
  std::printf("  %-40s %8.3f s %8.0f MB/s  %.2f of curl (goal >= 0.9)\n",
              "host downloader (IDownloader)", service, mb / service, curl / service);
  std::printf("  %-40s %8.3f s %8.0f MB/s  %.2f of curl\n",
              "host downloader, MD5+SHA-256 as written", digesting, mb / digesting,
              curl / digesting);
  std::printf("  %-40s %8.3f s %8.0f MB/s  %.2f of curl (goal >= 0.8)\n",
              "DownLoadFile (verified: MD5 and SHA-256)", whole, mb / whole, curl / whole);
  std::printf("  %-40s %8.1f MB        (goal < 16 MB)\n", "peak memory growth during DownLoadFile",
              static_cast<double>(growthKb) / 1024.0);
  std::printf("MD5 of the same file (in the page cache)\n");
  std::printf("  %-40s %8.3f s %8.0f MB/s\n", "md5sum", md5sum, mb / md5sum);
  std::printf("  %-40s %8.3f s %8.0f MB/s  %.2f of md5sum (goal >= 0.8)\n", "GetFileMd5Hex", digest,
              mb / digest, md5sum / digest);
  return 0;
}
