#include "host/services/Downloader.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <filesystem>
#include <string>
#include <thread>

#include "platform/StopToken.h"
#include "tests/host/LoopbackHttpServer.h"
#include "tests/support/TempStateRoot.h"

namespace {

using obxtest::HttpRequest;
using obxtest::HttpResponse;
using obxtest::LoopbackHttpServer;

const std::string kBody = [] {
  std::string body;
  for (int i = 0; body.size() < 10000; ++i) body += std::to_string(i) + ",";
  return body.substr(0, 10000);
}();

// Head of a 200 or 206 answer for kBody from `from`, with its rest of the body
// cut to `send` bytes (the Content-Length still promises all of them). The
// server takes ranges, so a cut transfer keeps its partial file.
std::string Answer(size_t from, size_t send, bool partial) {
  std::string head = partial ? "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " +
                                   std::to_string(from) + "-9999/10000\r\n"
                             : "HTTP/1.1 200 OK\r\nAccept-Ranges: bytes\r\n";
  head += "Content-Length: " + std::to_string(kBody.size() - from) + "\r\n\r\n";
  return head + kBody.substr(from, send);
}

std::string RangeOf(const HttpRequest& r) {
  auto v = r.Values("Range");
  return v.empty() ? "" : v[0];
}

class DownloaderTest : public ::testing::Test {
 protected:
  DownloaderTest() {
    options.lowSpeedSeconds = 1;
    std::filesystem::create_directories(root.Sub("dl"));
  }
  // On a thread of its own with the caller's stop token, as the agent's
  // worker runs a transfer: the thread that touched libcurl's thread-local
  // storage has ended by the time the process does, which the leak checker's
  // walk over the threads at exit needs once libcurl is unloaded.
  int Get(LoopbackHttpServer& server, const std::string& path = "/f") {
    int result = 0;
    const platform::StopToken stop = platform::CurrentStopToken();
    std::thread worker([&] {
      platform::ScopedStopToken current(stop);
      result = orsahost::Downloader(options).download(server.Url(path), target, 1, 0);
    });
    worker.join();
    return result;
  }
  obxtest::TempStateRoot root;
  orsahost::DownloaderOptions options;
  std::string target = root.Sub("dl/f.bin");
  std::string part = target + ".part";
};

TEST_F(DownloaderTest, StalledTransferIsResumedWithARangeOrStartedAgain) {
  size_t send = 4000;
  bool honourRange = true;
  LoopbackHttpServer server([&](const HttpRequest& r) {
    const std::string range = RangeOf(r);
    if (range.empty() || !honourRange) return Answer(0, send, false);
    const size_t from = std::stoul(range.substr(6));
    return from >= kBody.size() ? HttpResponse(416, "Range Not Satisfiable", "")
                                : Answer(from, send, true);
  });
  server.HoldAfterAnswer(true);  // short answers stall rather than end

  // The server stalls after 4000 bytes: the low-speed time-out ends it, the
  // bytes stay in the partial file, and the target is not there. (The speed
  // is averaged over a few seconds; a higher floor keeps the test short.)
  options.lowSpeedBytes = 1000;
  EXPECT_EQ(Get(server), orsahost::kDownloadTimedOut);
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_EQ(obxtest::ReadFile(part), kBody.substr(0, 4000));

  send = kBody.size();
  EXPECT_EQ(Get(server), orsahost::kDownloadStored);
  EXPECT_EQ(RangeOf(server.Requests().back()), "bytes=4000-");
  EXPECT_EQ(obxtest::ReadFile(target), kBody);
  EXPECT_FALSE(std::filesystem::exists(part));

  // A server that ignores the range sends everything again; the old bytes go.
  obxtest::WriteFile(part, "stale bytes of another file");
  honourRange = false;
  EXPECT_EQ(Get(server), orsahost::kDownloadStored);
  EXPECT_EQ(obxtest::ReadFile(target), kBody);

  // A partial file longer than the server's file: refused range, file dropped.
  obxtest::WriteFile(part, kBody + "more");
  honourRange = true;
  EXPECT_EQ(Get(server), 416);
  EXPECT_FALSE(std::filesystem::exists(part));
  EXPECT_EQ(obxtest::ReadFile(target), kBody);  // the stored file is left alone
}

TEST_F(DownloaderTest, ConnectionDroppedMidFileIsResumedByTheNextAttempt) {
  // Every answer promises the whole rest and the connection closes after
  // 4000 bytes of a whole file; a range is answered in full.
  LoopbackHttpServer server([&](const HttpRequest& r) {
    const std::string range = RangeOf(r);
    return range.empty() ? Answer(0, 4000, false)
                         : Answer(std::stoul(range.substr(6)), 10000, true);
  });
  EXPECT_EQ(Get(server), orsahost::kDownloadTransportFailure);
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_EQ(obxtest::ReadFile(part), kBody.substr(0, 4000));
  EXPECT_EQ(Get(server), orsahost::kDownloadStored);
  EXPECT_EQ(RangeOf(server.Requests().back()), "bytes=4000-");
  EXPECT_EQ(obxtest::ReadFile(target), kBody);

  // With two tries one call gets over the cut.
  std::filesystem::remove(target);
  EXPECT_EQ(orsahost::Downloader(options).download(server.Url("/f"), target, 2, 0),
            orsahost::kDownloadStored);
  EXPECT_EQ(RangeOf(server.Requests().back()), "bytes=4000-");
  EXPECT_EQ(obxtest::ReadFile(target), kBody);
  EXPECT_FALSE(std::filesystem::exists(part));
}

TEST_F(DownloaderTest, HttpErrorsAndBadAddressesAreFailureCodes) {
  LoopbackHttpServer server([&](const HttpRequest& r) -> std::string {
    if (r.requestLine.find(" /missing ") != std::string::npos)
      return HttpResponse(404, "Not Found", "no such file");
    if (r.requestLine.find(" /broken ") != std::string::npos)
      return HttpResponse(500, "Internal Server Error", "oops");
    if (r.requestLine.find(" /loop ") != std::string::npos)
      return "HTTP/1.1 302 Found\r\nLocation: /loop\r\nContent-Length: 0\r\n\r\n";
    if (r.requestLine.find(" /moved ") != std::string::npos)
      return "HTTP/1.1 302 Found\r\nLocation: /f\r\nContent-Length: 5\r\n\r\nmoved";
    return HttpResponse(200, "OK", kBody, "application/octet-stream");
  });
  EXPECT_EQ(Get(server, "/moved"), orsahost::kDownloadStored);
  EXPECT_EQ(obxtest::ReadFile(target), kBody);
  const struct {
    std::string url;
    int code;
  } cases[] = {
      {server.Url("/missing"), 404},
      {server.Url("/broken"), 500},
      {server.Url("/loop"), orsahost::kDownloadTransportFailure},
      {"ftp://127.0.0.1/f", orsahost::kDownloadBadArgument},
      {"file:///etc/passwd", orsahost::kDownloadBadArgument},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(orsahost::Downloader(options).download(c.url, target, 1, 0), c.code) << c.url;
    EXPECT_EQ(obxtest::ReadFile(target), kBody) << c.url;  // never replaced by an error page
    EXPECT_FALSE(std::filesystem::exists(part)) << c.url;
  }
  int closedPort = 0;
  {
    LoopbackHttpServer gone([](const HttpRequest&) { return std::string(); });
    closedPort = gone.Port();
  }
  EXPECT_EQ(orsahost::Downloader(options).download(
                "http://127.0.0.1:" + std::to_string(closedPort) + "/f", target, 2, 0),
            orsahost::kDownloadTransportFailure);
}

TEST_F(DownloaderTest, QuitRequestEndsATransferThatWouldOtherwiseWait) {
  options.lowSpeedSeconds = 3600;  // only the quit request can end this transfer
  LoopbackHttpServer server([&](const HttpRequest&) { return Answer(0, 3000, false); });
  server.HoldAfterAnswer(true);
  platform::StopSource stop;
  std::thread stopper([&] {
    while (obxtest::ReadFile(part).size() < 3000) std::this_thread::yield();
    stop.RequestStop();
  });
  int result = 0;
  {
    platform::ScopedStopToken current(stop.Token());
    result = Get(server);
  }
  stopper.join();
  EXPECT_EQ(result, orsahost::kDownloadCancelled);
  EXPECT_EQ(obxtest::ReadFile(part).size(), 3000u);  // kept for the next attempt
}

// The digests come from the bytes as they are written, across the ring's
// buffers, and cover the part kept on disk exactly when the server resumes it.
TEST_F(DownloaderTest, DigestsAreThoseOfTheStoredFileResumedOrStartedAgain) {
  std::string big;
  for (int i = 0; big.size() < 1300001; ++i) big += std::to_string(i * 7919) + ";";
  const auto hex = [](const EVP_MD* md, const std::string& data) {
    unsigned char bytes[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(data.data(), data.size(), bytes, &size, md, nullptr);
    std::string out;
    for (unsigned int i = 0; i < size; ++i) {
      out += "0123456789abcdef"[bytes[i] >> 4];
      out += "0123456789abcdef"[bytes[i] & 15];
    }
    return out;
  };
  bool honourRange = true;
  LoopbackHttpServer server([&](const HttpRequest& r) {
    const std::string range = RangeOf(r);
    const size_t from = range.empty() || !honourRange ? 0 : std::stoul(range.substr(6));
    return std::string(from ? "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " +
                                  std::to_string(from) + "-" + std::to_string(big.size() - 1) +
                                  "/" + std::to_string(big.size()) + "\r\n"
                            : "HTTP/1.1 200 OK\r\n") +
           "Content-Length: " + std::to_string(big.size() - from) + "\r\n\r\n" + big.substr(from);
  });
  const struct {
    std::string part;  // in the partial file before the call
    bool honourRange;
  } cases[] = {{"", true}, {big.substr(0, 300007), true}, {"stale bytes", false}};
  for (const auto& c : cases) {
    if (!c.part.empty()) obxtest::WriteFile(part, c.part);
    honourRange = c.honourRange;
    orsa::net::FileDigests digests;
    EXPECT_EQ(orsahost::Downloader(options).downloadVerified(server.Url("/f"), target, {}, digests),
              orsahost::kDownloadStored);
    EXPECT_EQ(obxtest::ReadFile(target), big);
    EXPECT_EQ(digests.md5, hex(EVP_md5(), big)) << c.part.size();
    EXPECT_EQ(digests.sha256, hex(EVP_sha256(), big)) << c.part.size();
  }
}

}  // namespace
