// The real orsap2p composite, loaded into two runtimes in one process: two
// agents on loopback, the second with the first as its peer.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "host/CompositeManifest.h"
#include "host/Runtime.h"
#include "orsa/INet.h"
#include "orsa/Seal.h"
#include "platform/Registry.h"
#include "platform/StopToken.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/TempStateRoot.h"

namespace {

const char kSettingsKey[] = "SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\orsap2p";

std::string Md5(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < size; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 0xf];
  }
  return out;
}

void SetValue(const char* name, const std::string& text) {
  platform::RegKey key = nullptr;
  ASSERT_EQ(platform::CreateRegKey(platform::RegRoot::kLocalMachine, kSettingsKey,
                                   platform::kKeyAllAccess, &key),
            0);
  platform::SetRegValue(key, name, platform::kRegSz,
                        reinterpret_cast<const unsigned char*>(text.c_str()),
                        static_cast<uint32_t>(text.size() + 1));
  platform::CloseRegKey(key);
}

void SetValue(const char* name, uint32_t value) {
  platform::RegKey key = nullptr;
  ASSERT_EQ(platform::CreateRegKey(platform::RegRoot::kLocalMachine, kSettingsKey,
                                   platform::kKeyAllAccess, &key),
            0);
  platform::SetRegValue(key, name, platform::kRegDword,
                        reinterpret_cast<const unsigned char*>(&value), 4);
  platform::CloseRegKey(key);
}

// One agent's side: a runtime with the composite loaded and its service.
struct Agent {
  Agent(const std::string& composite, const std::string& folderPath)
      : runtime(logs.getLogManager()), folder(folderPath) {
    runtime.loadComposite(composite, orsa::kPassphrase);
    EXPECT_TRUE(runtime.activateComposites());
    auto objects = runtime.context().getObjects(orsa::net::IP2pDownload::kTypeName, "", 3);
    service = boost::dynamic_pointer_cast<orsa::net::IP2pDownload>((*objects)[0]);
  }
  // The port from the service's "serving ... on ADDRESS:PORT" line.
  int Port() const {
    for (const std::string& m : logs.Messages())
      if (m.rfind("serving " + folder + " on ", 0) == 0)
        return std::stoi(m.substr(m.rfind(':') + 1));
    return 0;
  }
  obxtest::FakeRuntime logs;
  orsahost::Runtime runtime;
  std::string folder;
  boost::shared_ptr<orsa::net::IP2pDownload> service;
};

// A raw peer connection to 127.0.0.1:port; a small receive buffer keeps the
// kernel from taking a whole file on the reader's behalf.
// Descriptors open in this process (the peer server runs in it too).
int OpenDescriptors() {
  const std::filesystem::directory_iterator fds("/proc/self/fd");
  return static_cast<int>(std::distance(fds, std::filesystem::directory_iterator()));
}

// Waits until `count` descriptors are open (a server's accepts are seen
// this way), for at most 10 s.
void WaitForOpenDescriptors(int count) {
  for (int i = 0; i < 1000 && OpenDescriptors() < count; ++i) platform::StopToken().WaitFor(10);
}

int Connect(int port, int receiveBuffer = 0) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (receiveBuffer > 0)
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  return fd;
}

// Everything the server sends until it closes (blocks until then).
std::string ReadToEnd(int fd) {
  std::string data;
  char buffer[65536];
  ssize_t n;
  while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
    data.append(buffer, static_cast<size_t>(n));
  ::close(fd);
  return data;
}

std::string Ask(int port, const std::string& request) {
  const int fd = Connect(port);
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  return ReadToEnd(fd);
}

class P2pCompositeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetValue("ListenPort", 0u);
    SetValue("BindAddress", "127.0.0.1");
    SetValue("MaxConnections", 2u);
    SetValue("TimeoutSeconds", 1u);
    orsahost::CompositeManifest manifest;
    manifest.library = OBX_ORSAP2P;
    manifest.services = {orsa::net::IP2pDownload::kTypeName};
    orsahost::WriteComposite(composite, manifest, orsa::kPassphrase);
    first = std::make_unique<Agent>(composite, root.Sub("first"));
    ASSERT_EQ(first->service->setServerHost(first->folder, 20100, 20100), 0);
    port = first->Port();
    ASSERT_NE(port, 0);
    SetValue("Peers", "127.0.0.1:" + std::to_string(port));
    second = std::make_unique<Agent>(composite, root.Sub("second"));
    ASSERT_EQ(second->service->setServerHost(second->folder, 20100, 20100), 0);
  }
  int Fetch(const std::string& content, const std::string& name = "got.bin") {
    return second->service->download(Md5(content), name, 0);
  }
  std::string Got(const std::string& name = "got.bin") {
    return obxtest::ReadFile(second->folder + "/" + name);
  }

  obxtest::TempStateRoot root;
  std::string composite = root.Sub("Components/orsap2p.composite");
  std::unique_ptr<Agent> first;
  std::unique_ptr<Agent> second;
  int port = 0;
};

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
  std::filesystem::create_symlink(root.Sub("outside.bin"), first->folder + "/link.bin");
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

TEST_F(P2pCompositeTest, HostilePeersCostTheirOwnConnectionOnly) {
  const std::string big(16 << 20, 'b');
  obxtest::WriteFile(first->folder + "/big.bin", big);
  EXPECT_EQ(Ask(port, "GET /etc/passwd HTTP/1.0\r\n\r\n"), "ORSAP2P/1 BAD\n");
  EXPECT_EQ(Ask(port, "ORSAP2P/1 GET " + std::string(40, 'a') + "\n"), "ORSAP2P/1 BAD\n");
  EXPECT_EQ(Ask(port, std::string(5000, 'x')), "");  // no line at all: dropped

  // Two silent peers take every connection; a third is turned away, and the
  // silent ones are dropped once their time is up.
  const int before = OpenDescriptors();
  const int silent1 = Connect(port);
  const int silent2 = Connect(port);
  WaitForOpenDescriptors(before + 4);  // both taken in before the third comes
  EXPECT_EQ(Ask(port, "ORSAP2P/1 GET " + Md5(big) + "\n"), "ORSAP2P/1 BUSY\n");
  EXPECT_EQ(ReadToEnd(silent1), "");
  EXPECT_EQ(ReadToEnd(silent2), "");

  // A peer that asks and never reads is dropped long before the file is sent
  // (after the kernel has taken what it buffers, a few windows of 1 s).
  const int slow = Connect(port, 65536);
  const std::string request = "ORSAP2P/1 GET " + Md5(big) + "\n";
  ::send(slow, request.data(), request.size(), MSG_NOSIGNAL);
  platform::StopToken().WaitFor(4500);
  EXPECT_LT(ReadToEnd(slow).size(), big.size());

  EXPECT_EQ(Fetch(big), 1);
  EXPECT_EQ(Got().size(), big.size());
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

}  // namespace
