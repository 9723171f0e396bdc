// The download where only Linux can make the case: a file size limit that
// makes the disk look full under the update folder.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <filesystem>
#include <string>

#include "host/services/Downloader.h"
#include "tests/host/LoopbackHttpServer.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/RegistryValues.h"
#include "tests/transfer/OBXDownLoaderTest.h"

namespace {

using obxdownloadertest::DownLoaderTest;
using obxdownloadertest::kContent;
using obxdownloadertest::Md5Of;

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
