#include "tests/support/LoopbackSockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace obxtest {

// The wake-up is a pipe: a byte written to it makes its read end readable,
// and it stays so, which ends every later wait too.
struct LoopbackSockets::Impl {
  int listen = -1;
  int wake[2] = {-1, -1};
  int port = 0;

  // Waits for `fd` to become readable; false when woken.
  bool WaitReadable(int fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake[0], POLLIN, 0}};
    for (;;) {
      if (::poll(fds, 2, -1) < 0) return false;
      if (fds[1].revents) return false;
      if (fds[0].revents) return true;
    }
  }
};

LoopbackSockets::LoopbackSockets() : impl_(std::make_unique<Impl>()) {
  impl_->listen = ::socket(AF_INET, SOCK_STREAM, 0);
  if (impl_->listen < 0) throw std::runtime_error("socket failed");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof(addr);
  if (::bind(impl_->listen, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      ::listen(impl_->listen, 8) != 0 ||
      ::getsockname(impl_->listen, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
      ::pipe(impl_->wake) != 0) {
    ::close(impl_->listen);
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  impl_->port = ntohs(addr.sin_port);
}

LoopbackSockets::~LoopbackSockets() {
  ::close(impl_->listen);
  ::close(impl_->wake[0]);
  ::close(impl_->wake[1]);
}

int LoopbackSockets::Port() const { return impl_->port; }

bool LoopbackSockets::WaitForConnection() { return impl_->WaitReadable(impl_->listen); }

LoopbackSockets::Connection LoopbackSockets::Accept() {
  const int fd = ::accept(impl_->listen, nullptr, nullptr);
  return fd < 0 ? kNoConnection : fd;
}

bool LoopbackSockets::WaitReadable(Connection c) {
  return impl_->WaitReadable(static_cast<int>(c));
}

long LoopbackSockets::Receive(Connection c, char* buffer, size_t size) {
  return static_cast<long>(::recv(static_cast<int>(c), buffer, size, 0));
}

long LoopbackSockets::Send(Connection c, const char* data, size_t size) {
  return static_cast<long>(::send(static_cast<int>(c), data, size, MSG_NOSIGNAL));
}

void LoopbackSockets::ShutdownSend(Connection c) { ::shutdown(static_cast<int>(c), SHUT_WR); }

void LoopbackSockets::Close(Connection c) { ::close(static_cast<int>(c)); }

void LoopbackSockets::Wake() {
  char c = 'q';
  (void)!::write(impl_->wake[1], &c, 1);
}

}  // namespace obxtest
