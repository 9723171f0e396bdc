#pragma once
// The fixture of the download tests: a test machine, a runtime with scripted
// HTTP and peer-to-peer transfer services, and the update folder's settings.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <filesystem>
#include <functional>
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
#include "transfer/OBXDownLoader.h"

namespace obxdownloadertest {

inline const char kContent[] = "#!/bin/sh\necho patched\n";

inline std::string Md5Of(const std::string& text) {
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
    return obx::DownLoadFile("boot/boot.sh", types, name, md5, used, sha256);
  }

  obxtest::TestMachine machine;
  obxtest::FakeRuntime runtime;
  std::string folder = "C:\\obx\\new\\download";  // missing, with a missing parent
  std::string md5;
  std::string sha256;  // none by default: the MD5 alone is checked
  Transfer http;
  Transfer p2p;
};

}  // namespace obxdownloadertest
