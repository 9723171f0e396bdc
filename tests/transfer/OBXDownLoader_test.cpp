#include "transfer/OBXDownLoader.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/Digest.h"
#include "foundation/SettingsStore.h"
#include "host/Downloader.h"
#include "orsa/INet.h"
#include "platform/File.h"
#include "platform/StateRoot.h"
#include "tests/host/LoopbackHttpServer.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/RegistryValues.h"
#include "tests/support/TempStateRoot.h"
#include "tests/support/TestMachine.h"

namespace {

const char kContent[] = "#!/bin/sh\necho patched\n";

std::string Md5Of(const std::string& text) {
  std::string out;
  obx::GetMd5Hex(text.data(), text.size(), out);
  return out;
}

// Both transfer services, scripted: each call records what it was given and
// whether a copy was still in place, then stores `content` and answers `code`.
struct Transfer {
  std::string content = kContent;
  int code = 1;
  std::function<void()> raise;  // throws instead, when set
  std::vector<std::string> calls;
  std::vector<bool> copyPresent;
};

class FakeHttp : public orsa::net::IDownloader {
 public:
  explicit FakeHttp(Transfer& t) : t_(t) {}
  int download(const std::string& url, const std::string& path, int, int) override {
    t_.calls.push_back(url);
    t_.copyPresent.push_back(std::filesystem::exists(platform::NativePath(path)));
    if (t_.raise) t_.raise();
    if (t_.code == 1) obxtest::WriteFile(platform::NativePath(path), t_.content);
    return t_.code;
  }

 private:
  Transfer& t_;
};

class FakeP2p : public orsa::net::IP2pDownload {
 public:
  FakeP2p(Transfer& t, std::string folder) : t_(t), folder_(std::move(folder)) {}
  int download(const std::string& md5, const std::string& name, int) override {
    t_.calls.push_back(md5 + " " + name);
    if (t_.raise) t_.raise();
    if (t_.code == 1) obxtest::WriteFile(platform::NativePath(folder_ + "\\" + name), t_.content);
    return t_.code;
  }
  int setServerHost(const std::string&, int, int) override { return 0; }

 private:
  Transfer& t_;
  std::string folder_;
};

class DownLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ForgetFolders();
    runtime.Install();
    md5 = Md5Of(kContent);
    Set(obx::kModuleKey, "FileSavedPath", folder);
    Set(obx::kDownloadServerKey, "schema", "http");
    Set(obx::kDownloadServerKey, "server", "dl.example");
    Set(obx::kDownloadServerKey, "QuorUpdatesRepair", "/repo");
  }
  void TearDown() override { ForgetFolders(); }
  // C:\obx lies below the state root on Linux, fresh for each test; on
  // Windows it is the system's drive and outlives the test.
  void ForgetFolders() {
    std::error_code ignored;
    std::filesystem::remove_all(platform::NativePath("C:\\obx"), ignored);
  }
  void Set(const char* key, const char* name, const std::string& value) {
    ASSERT_TRUE(obx::WriteRegString(obx::HKLM, key, name, value));
  }
  void WithHttp() { runtime.Register<orsa::net::IDownloader>(boost::make_shared<FakeHttp>(http)); }
  void WithP2p() {
    runtime.Register<orsa::net::IP2pDownload>(boost::make_shared<FakeP2p>(p2p, folder));
  }
  std::string Saved(const std::string& name = "boot.sh") const {
    return platform::NativePath(folder + "\\" + name);
  }
  bool Fetch(const std::string& types, std::string& used, const std::string& name = "boot.sh") {
    return obx::DownLoadFile("boot/boot.sh", types, name, md5, used);
  }

  obxtest::TestMachine machine;
  obxtest::FakeRuntime runtime;
  std::string folder = "C:\\obx\\new\\download";  // missing, with a missing parent
  std::string md5;
  Transfer http;
  Transfer p2p;
};

TEST_F(DownLoaderTest, TypeListsAreTriedInOrderUntilOneWorks) {
  const struct {
    const char* types;
    bool p2pService;
    bool ok;
    const char* used;
    std::vector<std::string> messages;
  } cases[] = {
      {"ftp;http",
       false,
       true,
       "http",
       {"DownLoad: type is ftp", "DownLoad: type is http",
        "DownLoad: http from: http://dl.example/repo/boot/boot.sh"}},
      {"", false, false, "untouched", {}},
      {";;;", false, false, "untouched", {}},
      {"HTTP", false, false, "untouched", {"DownLoad: type is HTTP"}},
      {"p2p;http",
       false,
       true,
       "http",
       {"DownLoad: type is p2p", "P2P Get md5:" + Md5Of(kContent) + "save path :boot.sh",
        "P2P composite service is null", "DownLoad: type is http",
        "DownLoad: http from: http://dl.example/repo/boot/boot.sh"}},
      {"p2p;http",
       true,
       true,
       "p2p",
       {"DownLoad: type is p2p", "P2P Get md5:" + Md5Of(kContent) + "save path :boot.sh"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.types);
    obxtest::FakeRuntime caseRuntime;
    caseRuntime.Install();
    Transfer h;
    caseRuntime.Register<orsa::net::IDownloader>(boost::make_shared<FakeHttp>(h));
    if (c.p2pService)
      caseRuntime.Register<orsa::net::IP2pDownload>(boost::make_shared<FakeP2p>(p2p, folder));
    ForgetFolders();
    std::string used = "untouched";
    EXPECT_EQ(Fetch(c.types, used), c.ok);
    EXPECT_EQ(used, c.used);
    EXPECT_EQ(caseRuntime.Messages(), c.messages);
    EXPECT_EQ(std::filesystem::exists(Saved()), c.ok);
  }
}

TEST_F(DownLoaderTest, CopyInPlaceCountsOnlyWithTheExactDigest) {
  WithHttp();
  const struct {
    const char* name;
    std::string expected;
    bool transferred;
  } cases[] = {
      {"matching", Md5Of(kContent), false},
      {"other digest", Md5Of("other"), true},
      {"empty digest", "", true},
      {"upper case", "", true},               // filled below
      {"unreadable", Md5Of(kContent), true},  // a folder where the file should be
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.name);
    if (std::string(c.name) == "upper case")
      for (char ch : Md5Of(kContent)) c.expected += static_cast<char>(std::toupper(ch));
    if (std::string(c.name) == "unreadable")
      std::filesystem::create_directories(Saved());
    else
      obxtest::WriteFile(Saved(), kContent);
    http.calls.clear();
    http.copyPresent.clear();
    runtime.ClearLines();
    std::string used;
    md5 = c.expected;
    const bool ok = Fetch("p2p;http", used);
    if (!c.transferred) {
      EXPECT_TRUE(ok);
      EXPECT_EQ(used, "p2p");  // the first of the types, no transfer at all
      EXPECT_TRUE(http.calls.empty());
      EXPECT_FALSE(runtime.HasPrefix("DownLoad: http from: "));
      EXPECT_FALSE(runtime.Has("P2P composite service is null"));
    } else {
      ASSERT_EQ(http.copyPresent, std::vector<bool>{false});  // deleted before the transfer
      // What arrives is checked against the same text: only a real digest matches.
      EXPECT_EQ(ok, c.expected == Md5Of(kContent));
      EXPECT_EQ(obxtest::ReadFile(Saved()), ok ? kContent : "");
    }
  }
}

TEST_F(DownLoaderTest, TransferredFileWithAnotherDigestIsDeletedAndTheNextTypeTried) {
  WithHttp();
  WithP2p();
  http.content = "substituted";
  std::string used;
  EXPECT_TRUE(Fetch("http;p2p", used));
  EXPECT_EQ(used, "p2p");
  const std::string warning = "DownLoad: " + folder +
                              "\\boot.sh does not match its md5, expected:" + md5 +
                              " actual:" + Md5Of("substituted");
  int warnings = 0;
  for (const obxtest::LogLine& line : runtime.Lines())
    warnings += line.message == warning && line.level == orsa::kLogWarning;
  EXPECT_EQ(warnings, 1);

  // Alone, the same transfer fails and leaves nothing behind.
  std::filesystem::remove(Saved());
  EXPECT_FALSE(Fetch("http", used));
  EXPECT_FALSE(std::filesystem::exists(Saved()));
}

TEST_F(DownLoaderTest, UnsafeFileNamesAreRefused) {
  WithHttp();
  for (const char* name : {"", ".", "..", "../boot.sh", "..\\boot.sh", "sub/boot.sh"}) {
    SCOPED_TRACE(name);
    std::string used = "untouched";
    EXPECT_FALSE(Fetch("http;p2p", used, name));
    EXPECT_TRUE(runtime.Has("DownLoad: refused file name \"" + std::string(name) + "\""));
  }
  EXPECT_TRUE(http.calls.empty());
  EXPECT_FALSE(std::filesystem::exists(platform::NativePath("C:\\obx")));
}

TEST_F(DownLoaderTest, AddressIsJoinedFromTheDownloadServerSettings) {
  WithHttp();
  obx::OBXDownLoader loader;
  EXPECT_EQ(loader.HttpDownLoad("a/b.exe", folder + "\\b.exe"), 1);
  ASSERT_TRUE(
      obx::WriteRegString(obx::HKLM, obx::kDownloadServerKey, "port", "8080"));  // not a DWORD
  EXPECT_EQ(loader.HttpDownLoad("a/b.exe", folder + "\\b.exe"), 1);
  platform::RegKey key = nullptr;
  ASSERT_EQ(
      platform::CreateRegKey(obx::HKLM, obx::kDownloadServerKey, platform::kKeyAllAccess, &key), 0);
  const uint32_t port = 8080;
  platform::SetRegValue(key, "port", platform::kRegDword,
                        reinterpret_cast<const unsigned char*>(&port), 4);
  platform::DeleteRegValue(key, "server");
  platform::CloseRegKey(key);
  EXPECT_EQ(loader.HttpDownLoad("a/b.exe", folder + "\\b.exe"), 1);
  EXPECT_EQ(http.calls, (std::vector<std::string>{"http://dl.example/repo/a/b.exe",
                                                  "http://dl.example/repo/a/b.exe",
                                                  "http://:8080/repo/a/b.exe"}));
}

TEST_F(DownLoaderTest, ServiceFailuresGiveTheirCodes) {
  WithHttp();
  WithP2p();
  obx::OBXDownLoader loader;
  http.code = p2p.code = 404;
  EXPECT_EQ(loader.DownLoadByType("u", "http", "f", md5), 404);  // passed through
  EXPECT_EQ(loader.DownLoadByType("u", "p2p", "f", md5), 404);
  EXPECT_EQ(loader.DownLoadByType("u", "ftp", "f", md5), obx::kDownloadUnknownType);
  http.raise = p2p.raise = [] { throw std::runtime_error("boom"); };
  EXPECT_EQ(loader.DownLoadByType("u", "http", "f", md5), obx::kDownloadHttpException);
  EXPECT_EQ(loader.DownLoadByType("u", "p2p", "f", md5), obx::kDownloadP2pException);
  http.raise = p2p.raise = [] { throw 7; };
  EXPECT_EQ(loader.DownLoadByType("u", "http", "f", md5), obx::kDownloadHttpException);
  EXPECT_EQ(loader.DownLoadByType("u", "p2p", "f", md5), obx::kDownloadP2pException);
  for (const char* m :
       {"Failed to access http host,error info:boom", "Failed to access P2P host,error info:boom",
        "Failed to access http host,unknown exception.",
        "Failed to access P2P host,unknown exception."})
    EXPECT_TRUE(runtime.Has(m)) << m;
}

TEST_F(DownLoaderTest, WithoutFileSavedPathTheTaskRunnersFolderIsUsed) {
  WithHttp();
  Set(obx::kModuleKey, "FileSavedPath", "");
  machine.SetModuleFolder("C:\\obx");
  std::string used;
  EXPECT_TRUE(Fetch("http", used));
  EXPECT_EQ(obxtest::ReadFile(platform::NativePath("C:\\obx\\download\\boot.sh")), kContent);
}

// A full disk under the update folder, made by a file size limit this
// process may not pass (a write beyond it fails as on a full disk, and no
// privilege is needed): the transfer fails with the system's reason in the
// log, no partial or broken file is left, a file already there stays whole,
// and the next attempt, with room again, stores the file.
TEST_F(DownLoaderTest, FullDiskUnderTheUpdateFolderIsNamedAndLeavesNothingBroken) {
  std::string big;
  for (int i = 0; big.size() < 300000; ++i) big += std::to_string(i) + "\n";
  obxtest::LoopbackHttpServer server([&](const obxtest::HttpRequest&) {
    return obxtest::HttpResponse(200, "OK", big, "application/octet-stream");
  });
  orsahost::DownloaderOptions options;
  options.logs = orsa::ILogManagerPtr(&runtime, [](orsa::ILogManager*) {});
  runtime.Register<orsa::net::IDownloader>(boost::make_shared<orsahost::Downloader>(options));
  Set(obx::kDownloadServerKey, "server", "127.0.0.1");
  ASSERT_TRUE(obxtest::WriteRegDword(platform::RegRoot::kLocalMachine, obx::kDownloadServerKey,
                                     "port", static_cast<uint32_t>(server.Port())));
  md5 = Md5Of(big);
  ASSERT_TRUE(platform::CreateDirectories(folder));
  obxtest::WriteFile(Saved("kept.sh"), kContent);

  std::string used;
  {
    obxtest::FileSizeLimit limit(100000);
    EXPECT_FALSE(Fetch("http", used));
  }
  int named = 0;
  for (const std::string& m : runtime.Messages())
    named += m.find("failed: cannot write " + Saved() + ".part: disk full") != std::string::npos;
  EXPECT_EQ(named, 1) << ::testing::PrintToString(runtime.Messages());
  EXPECT_FALSE(std::filesystem::exists(Saved()));
  EXPECT_FALSE(std::filesystem::exists(Saved() + ".part"));
  EXPECT_EQ(obxtest::ReadFile(Saved("kept.sh")), kContent);

  EXPECT_TRUE(Fetch("http", used));
  EXPECT_EQ(obxtest::ReadFile(Saved()), big);
}

}  // namespace
