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
#include "orsa/INet.h"
#include "platform/File.h"
#include "platform/StateRoot.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/RegistryValues.h"
#include "tests/support/TempStateRoot.h"
#include "tests/support/TestMachine.h"
#include "tests/transfer/OBXDownLoaderTest.h"

namespace {

using obxdownloadertest::DownLoaderTest;
using obxdownloadertest::FakeHttp;
using obxdownloadertest::FakeP2p;
using obxdownloadertest::kContent;
using obxdownloadertest::Md5Of;
using obxdownloadertest::Transfer;

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

TEST_F(DownLoaderTest, CopyInPlaceCountsOnlyWithItsDigestInEitherCase) {
  WithHttp();
  const struct {
    const char* name;
    std::string expected;
    bool transferred;
  } cases[] = {
      {"matching", Md5Of(kContent), false},
      {"other digest", Md5Of("other"), true},
      {"empty digest", "", true},
      {"upper case", "", false},              // filled below
      {"upper case, other copy", "", true},   // filled below
      {"unreadable", Md5Of(kContent), true},  // a folder where the file should be
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.name);
    const bool otherCopy = std::string(c.name) == "upper case, other copy";
    if (std::string(c.name) == "upper case" || otherCopy)
      for (char ch : Md5Of(kContent)) c.expected += static_cast<char>(std::toupper(ch));
    std::filesystem::remove_all(Saved());
    if (std::string(c.name) == "unreadable")
      std::filesystem::create_directories(Saved());
    else
      obxtest::WriteFile(Saved(), otherCopy ? "other" : kContent);
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
      EXPECT_EQ(ok, obx::SameMd5(c.expected, Md5Of(kContent)));
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

// The policy's SHA-256 beside the MD5: with the MD5 right, a content of
// another SHA-256 (as the second file of an MD5 collision pair would be)
// counts neither in place nor transferred.
TEST_F(DownLoaderTest, Sha256BesideTheMd5MustMatchInPlaceAndTransferred) {
  WithHttp();
  md5 = Md5Of(kContent);
  obxtest::WriteFile(Saved(), kContent);
  std::string right;
  ASSERT_TRUE(obx::GetFileSha256Hex(folder + "\\boot.sh", right));
  std::string upper = right;
  for (char& ch : upper) ch = static_cast<char>(std::toupper(ch));
  const std::string wrong(64, 'b');
  const struct {
    std::string sha256;
    bool ok;
    size_t transfers;
  } cases[] = {{right, true, 0}, {upper, true, 0}, {wrong, false, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sha256);
    obxtest::WriteFile(Saved(), kContent);
    http.calls.clear();
    runtime.ClearLines();
    sha256 = c.sha256;
    std::string used;
    EXPECT_EQ(c.ok, Fetch("http", used));
    EXPECT_EQ(c.transfers, http.calls.size());
    EXPECT_EQ(c.ok, std::filesystem::exists(Saved()));
    EXPECT_EQ(!c.ok, runtime.Has("DownLoad: " + folder +
                                 "\\boot.sh does not match its sha256, expected:" + wrong +
                                 " actual:" + right));
  }
}

TEST_F(DownLoaderTest, UnsafeFileNamesAreRefused) {
  WithHttp();
  for (const char* name : {"", ".", "..", "../boot.sh", "..\\boot.sh", "sub/boot.sh", "a\"b.sh",
                           "a<b", "a>b", "c:b", "a|b", "a?b", "a*b", "a\tb",
                           "a\x1f"
                           "b"}) {
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

}  // namespace
