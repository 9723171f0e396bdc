// Downloads through the host's real downloader against a small server on
// 127.0.0.1 that misbehaves, bounded by the agent's settings: each case ends
// with one log line saying why, and leaves on disk only what may be resumed.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "host/services/Downloader.h"
#include "tests/host/LoopbackHttpServer.h"
#include "tests/support/RegistryValues.h"
#include "tests/transfer/OBXDownLoaderTest.h"

namespace {

using obxdownloadertest::DownLoaderTest;
using obxdownloadertest::Md5Of;

const std::string kBody = [] {
  std::string body;
  for (int i = 0; body.size() < 10000; ++i) body += std::to_string(i) + ",";
  return body.substr(0, 10000);
}();
constexpr size_t kSome = SIZE_MAX;

std::string Head(const std::string& fields) { return "HTTP/1.1 200 OK\r\n" + fields + "\r\n"; }

TEST_F(DownLoaderTest, TransfersEndBelowTheMinimumRateOrPastALengthAndKeepOnlyResumableParts) {
  const std::string length = "Content-Length: 10000\r\n";
  const std::string ranges = "Accept-Ranges: bytes\r\n";
  const std::string chunked = "Transfer-Encoding: chunked\r\n";
  const std::string big(1536 * 1024, 'y');  // past the 1 MiB maximum set below
  const struct {
    const char* name;
    std::string answer;
    bool slow;  // after 200 bytes, one byte every 50 ms
    std::string logged;
    size_t partKept;  // bytes left in the partial file; 0: none; kSome: a few
  } cases[] = {
      {"slow sender, ranges", Head(length + ranges) + kBody, true,
       "failed: less than 1000 bytes/s for 1 s; partial file kept for resuming (", kSome},
      {"slow sender, no ranges", Head(length) + kBody, true,
       "failed: less than 1000 bytes/s for 1 s; partial file deleted: the server does not take "
       "ranges",
       0},
      {"cut without ranges", Head(length) + kBody.substr(0, 4000), false,
       "; partial file deleted: the server does not take ranges", 0},
      {"cut with ranges", Head(length + ranges) + kBody.substr(0, 4000), false,
       "; partial file kept for resuming (4000 bytes)", 4000},
      {"longer than announced",
       Head("Content-Length: 100\r\n" + chunked + ranges) + "2710\r\n" + kBody + "\r\n0\r\n\r\n",
       false, "failed: the body runs past the 100 bytes the server announced; partial file deleted",
       0},
      {"no length, over the maximum", Head("Connection: close\r\n" + ranges) + big, false,
       "failed: the body passes the maximum of 1048576 bytes; partial file deleted", 0},
      {"announced over the maximum",
       Head("Content-Length: " + std::to_string(big.size()) + "\r\n" + ranges) + big, false,
       "failed: the body passes the maximum of 1048576 bytes; partial file deleted", 0},
  };
  const std::string* answer = nullptr;
  obxtest::LoopbackHttpServer server([&](const obxtest::HttpRequest&) { return *answer; });
  orsahost::DownloaderOptions options;
  options.logs = orsa::ILogManagerPtr(&runtime, [](orsa::ILogManager*) {});
  runtime.Register<orsa::net::IVerifiedDownloader>(
      boost::make_shared<orsahost::Downloader>(options));
  Set(obx::kDownloadServerKey, "server", "127.0.0.1");
  const auto dword = [](const char* key, const char* name, uint32_t value) {
    ASSERT_TRUE(obxtest::WriteRegDword(platform::RegRoot::kLocalMachine, key, name, value));
  };
  dword(obx::kDownloadServerKey, "port", static_cast<uint32_t>(server.Port()));
  dword(obx::kModuleKey, "MinDownloadRate", 1000);
  dword(obx::kModuleKey, "MinDownloadRateSeconds", 1);
  dword(obx::kModuleKey, "MaxDownloadMB", 1);
  md5 = Md5Of(kBody);

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    answer = &c.answer;
    server.SendSlowlyAfter(c.slow ? 200 : SIZE_MAX, std::chrono::milliseconds(50));
    server.HoldAfterAnswer(!c.slow && c.partKept != 0);  // a cut that stalls, not a close
    runtime.ClearLines();
    std::filesystem::remove(Saved() + ".part");
    std::string used;
    EXPECT_FALSE(Fetch("http", used));
    int named = 0;
    for (const std::string& m : runtime.Messages())
      named += m.find("download " + server.Url("/repo/boot/boot.sh")) == 0 &&
               m.find(c.logged) != std::string::npos;
    EXPECT_EQ(named, 1) << ::testing::PrintToString(runtime.Messages());
    EXPECT_FALSE(std::filesystem::exists(Saved()));
    const std::string part = Saved() + ".part";
    EXPECT_EQ(std::filesystem::exists(part), c.partKept != 0);
    if (c.partKept == 0) continue;
    // What was kept is the start of the file, ready to be resumed.
    const std::string kept = obxtest::ReadFile(part);
    EXPECT_FALSE(kept.empty());
    EXPECT_EQ(kept, kBody.substr(0, c.partKept == kSome ? kept.size() : c.partKept));
  }
}

// Absent and 0 both mean the documented default: a 0 passed on would turn a
// bound off (curl reads a minimum rate of 0 as none).
TEST_F(DownLoaderTest, DownloadBoundsComeFromTheSettingsWithTheirDefaults) {
  const auto limits = [] {
    const orsa::net::DownloadLimits l = obx::ReadDownloadLimits();
    return std::to_string(l.minBytesPerSecond) + "/" + std::to_string(l.windowSeconds) + "/" +
           std::to_string(l.maxBytes);
  };
  EXPECT_EQ(limits(), "1024/60/" + std::to_string(uint64_t{2048} << 20));
  const struct {
    uint32_t value;
    std::string expected;
  } cases[] = {{0, "1024/60/" + std::to_string(uint64_t{2048} << 20)},
               {7, "7/7/" + std::to_string(uint64_t{7} << 20)},
               {0xffffffff, "4294967295/4294967295/" + std::to_string(uint64_t{0xffffffff} << 20)}};
  for (const auto& c : cases) {
    for (const char* name : {"MinDownloadRate", "MinDownloadRateSeconds", "MaxDownloadMB"})
      ASSERT_TRUE(
          obxtest::WriteRegDword(platform::RegRoot::kLocalMachine, obx::kModuleKey, name, c.value));
    EXPECT_EQ(limits(), c.expected) << c.value;
  }
}

}  // namespace
