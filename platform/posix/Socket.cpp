#include "platform/Socket.h"

#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "platform/detail/Deadline.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;
using detail::MsLeft;

SocketWait Wait(int fd, short events, int ms, WaitHandle stop) {
  const bool forever = ms < 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : ms);
  for (;;) {
    pollfd fds[2] = {{fd, events, 0}, {stop, POLLIN, 0}};
    const int n = ::poll(fds, stop >= 0 ? 2 : 1, forever ? -1 : MsLeft(deadline));
    if (n < 0) {
      if (errno == EINTR) continue;
      return SocketWait::kFailed;
    }
    if (stop >= 0 && fds[1].revents != 0) return SocketWait::kStopped;
    if (fds[0].revents & (events | POLLHUP | POLLERR)) return SocketWait::kReady;
    if (!forever && (n == 0 || MsLeft(deadline) == 0)) return SocketWait::kTimedOut;
  }
}

// The addresses of `host`:`port`; `numeric` refuses names.
addrinfo* Resolve(const std::string& host, int port, bool numeric, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | (numeric ? AI_NUMERICHOST | AI_PASSIVE : 0);
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (rc != 0) {
    if (error) *error = numeric ? "not an IP address: " + host : gai_strerror(rc);
    return nullptr;
  }
  return found;
}

}  // namespace

void Socket::Close() {
  if (handle_ != kNone) ::close(static_cast<int>(handle_));
  handle_ = kNone;
}

Socket Socket::Listen(const std::string& address, int port, int backlog, std::string* error) {
  addrinfo* found = Resolve(address, port, true, error);
  if (found == nullptr) return Socket();
  Socket s(::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  int one = 1;
  if (!s.Valid() ||
      ::setsockopt(static_cast<int>(s.handle_), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
      ::bind(static_cast<int>(s.handle_), found->ai_addr, found->ai_addrlen) != 0 ||
      ::listen(static_cast<int>(s.handle_), backlog) != 0) {
    if (error) *error = strerror(errno);
    s.Close();
  }
  ::freeaddrinfo(found);
  return s;
}

int Socket::LocalPort() const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (handle_ == kNone ||
      ::getsockname(static_cast<int>(handle_), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return 0;
  if (address.ss_family == AF_INET)
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
  if (address.ss_family == AF_INET6)
    return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
  return 0;
}

Socket Socket::Accept(bool* shortage) {
  if (shortage) *shortage = false;
  const int fd =
      ::accept4(static_cast<int>(handle_), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0 && shortage)
    *shortage = errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM;
  return fd < 0 ? Socket() : Socket(fd);
}

Socket Socket::Connect(const std::string& host, int port, int ms, WaitHandle stop, SocketWait* why,
                       std::string* error) {
  *why = SocketWait::kFailed;
  addrinfo* found = Resolve(host, port, false, error);
  if (found == nullptr) return Socket();
  Socket connected;
  if (error) *error = "no address";
  for (addrinfo* a = found; a != nullptr && !connected.Valid(); a = a->ai_next) {
    Socket s(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!s.Valid()) {
      if (error) *error = strerror(errno);
      continue;
    }
    const int fd = static_cast<int>(s.handle_);
    if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
      connected = std::move(s);
      break;
    }
    if (errno != EINPROGRESS) {
      if (error) *error = strerror(errno);
      continue;
    }
    *why = Wait(fd, POLLOUT, ms, stop);
    int soError = 0;
    socklen_t len = sizeof soError;
    if (*why == SocketWait::kReady && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) == 0 &&
        soError == 0) {
      connected = std::move(s);
      break;
    }
    if (error)
      *error =
          *why == SocketWait::kTimedOut ? "connect timed out" : strerror(soError ? soError : errno);
    if (*why == SocketWait::kStopped) break;
    *why = SocketWait::kFailed;
  }
  ::freeaddrinfo(found);
  if (connected.Valid()) *why = SocketWait::kReady;
  return connected;
}

SocketWait Socket::WaitReadable(int ms, WaitHandle stop) const {
  return Wait(static_cast<int>(handle_), POLLIN, ms, stop);
}

SocketWait Socket::WaitWritable(int ms, WaitHandle stop) const {
  return Wait(static_cast<int>(handle_), POLLOUT, ms, stop);
}

long Socket::Send(const char* data, size_t size) {
  for (;;) {
    const ssize_t n = ::send(static_cast<int>(handle_), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) return n > 0 || size == 0 ? static_cast<long>(n) : kFailed;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? kWouldBlock : kFailed;
  }
}

long Socket::Receive(char* buffer, size_t size) {
  for (;;) {
    const ssize_t n = ::recv(static_cast<int>(handle_), buffer, size, MSG_DONTWAIT);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? kWouldBlock : kFailed;
  }
}

void Socket::ShutdownSend() {
  if (handle_ != kNone) ::shutdown(static_cast<int>(handle_), SHUT_WR);
}

bool IsIpAddress(const std::string& text) {
  addrinfo* found = Resolve(text, 0, true, nullptr);
  if (found) ::freeaddrinfo(found);
  return found != nullptr;
}

}  // namespace platform
