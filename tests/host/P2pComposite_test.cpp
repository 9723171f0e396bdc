// The peer-to-peer composite between two agents on loopback, on every system.
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/Socket.h"
#include "platform/StopToken.h"
#include "tests/host/P2pCompositeTest.h"

namespace {

using obxtest::Md5;
using obxtest::P2pCompositeTest;
using obxtest::SetValue;

TEST_F(P2pCompositeTest, SecondAgentGetsWhatOnlyTheFirstHolds) {
  obxtest::WriteFile(first->folder + "/patch.bin", "patch content");
  EXPECT_EQ(Fetch("patch content"), 1);
  EXPECT_EQ(Got(), "patch content");
  std::string upper = Md5("patch content");
  for (char& c : upper) c = static_cast<char>(std::toupper(c));
  EXPECT_EQ(second->service->download(upper, "again.bin", 0), 1);
  EXPECT_TRUE(first->logs.Has("served " + Md5("patch content") + " (13 bytes)"));
  // Nothing but the stored files is left in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(second->folder),
                          std::filesystem::directory_iterator()),
            2);
}

TEST_F(P2pCompositeTest, OnlyCurrentContentOfTheFolderItselfIsServed) {
  obxtest::WriteFile(root.Sub("outside.bin"), "secret");
  // A link where the system lets this process make one (Windows may not).
  std::error_code noLinks;
  std::filesystem::create_symlink(root.Sub("outside.bin"), first->folder + "/link.bin", noLinks);
  obxtest::WriteFile(first->folder + "/sub/inner.bin", "inner");
  obxtest::WriteFile(first->folder + "/x.bin.part", "partial");
  obxtest::WriteFile(first->folder + "/changing.bin", "version 1");
  EXPECT_EQ(Fetch("version 1"), 1);  // digested and served once
  obxtest::WriteFile(first->folder + "/changing.bin", "version 2");
  for (const char* content : {"secret", "inner", "partial", "version 1", "not there"})
    EXPECT_EQ(Fetch(content, "none.bin"), -4) << content;
  EXPECT_FALSE(std::filesystem::exists(second->folder + "/none.bin"));
  EXPECT_EQ(Fetch("version 2"), 1);
}

TEST_F(P2pCompositeTest, FailuresHaveTheirOwnCodes) {
  EXPECT_EQ(second->service->download("not an md5", "f", 0), -1);
  EXPECT_EQ(second->service->download(Md5("x"), "../f", 0), -1);
  EXPECT_EQ(second->service->setServerHost("", 20100, 20100), 1);
  platform::StopSource stop;
  stop.RequestStop();
  {
    platform::ScopedStopToken current(stop.Token());
    EXPECT_EQ(Fetch("x"), -7);
  }
  SetValue("Peers", "");
  EXPECT_EQ(Fetch("x"), -3);
  // The port of the first agent is taken: the folder still serves downloads.
  SetValue("ListenPort", static_cast<uint32_t>(port));
  EXPECT_EQ(second->service->setServerHost(root.Sub("third"), 20100, 20100), 2);
}

// What a peer gets back from the first agent's server for `request` (nothing
// sent when empty) until the server closes, within 10 s.
std::string Answer(int port, const std::string& request) {
  platform::SocketWait why;
  std::string error;
  platform::Socket s =
      platform::Socket::Connect("127.0.0.1", port, 5000, platform::kNoWaitHandle, &why, &error);
  EXPECT_TRUE(s.Valid()) << error;
  if (!request.empty()) {
    EXPECT_EQ(s.Send(request.data(), request.size()), static_cast<long>(request.size()));
  }
  std::string got;
  char buffer[256];
  while (s.WaitReadable(10000, platform::kNoWaitHandle) == platform::SocketWait::kReady) {
    const long n = s.Receive(buffer, sizeof buffer);
    if (n == platform::Socket::kWouldBlock) continue;
    if (n <= 0) return got;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got + "(still open)";
}

TEST_F(P2pCompositeTest, ServerRefusesNonsenseAndDropsASilentPeer) {
  EXPECT_EQ(Answer(port, "GET / HTTP/1.0\r\n\r\n"), "ORSAP2P/1 BAD\n");
  EXPECT_EQ(Answer(port, "ORSAP2P/1 GET " + Md5("none") + "\n"), "ORSAP2P/1 NOTFOUND\n");
  EXPECT_EQ(Answer(port, ""), "");  // TimeoutSeconds is 1
}

TEST_F(P2pCompositeTest, QuitRequestEndsAFetchWaitingOnASilentPeer) {
  // A peer whose system takes the connection while nobody ever answers: the
  // fetch would wait out its 30 s.
  std::string error;
  platform::Socket silent = platform::Socket::Listen("127.0.0.1", 0, 4, &error);
  ASSERT_TRUE(silent.Valid()) << error;
  SetValue("Peers", "127.0.0.1:" + std::to_string(silent.LocalPort()));
  SetValue("TimeoutSeconds", 30u);
  platform::StopSource stop;
  int result = 0;
  const auto start = std::chrono::steady_clock::now();
  std::thread fetch([&] {
    platform::ScopedStopToken current(stop.Token());
    result = Fetch("x");
  });
  platform::StopToken().WaitFor(300);
  stop.RequestStop();
  fetch.join();
  EXPECT_EQ(result, -7);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// The composite file the package installs, beside its copy of the library.
TEST(P2pPackagedComposite, LoadsItsLibraryAndServes) {
  const std::string composite = OBX_P2P_PACKAGED_COMPOSITE;
  if (composite.empty()) GTEST_SKIP() << "this build made no composite file";
  obxtest::TempStateRoot root;
  obxtest::FakeRuntime logs;
  orsahost::Runtime runtime(logs.getLogManager());
  runtime.loadComposite(composite, orsa::kPassphrase);
  EXPECT_TRUE(runtime.activateComposites());
  EXPECT_EQ(runtime.context().getObjects(orsa::net::IP2pDownload::kTypeName, "", 3)->size(), 1u);
}

}  // namespace
