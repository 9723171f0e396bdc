// The peer-to-peer composite against hostile peers: raw sockets and the
// process's descriptors, on Linux.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/StopToken.h"
#include "tests/host/P2pCompositeTest.h"

namespace {

using obxtest::Md5;
using obxtest::P2pCompositeTest;

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

}  // namespace
