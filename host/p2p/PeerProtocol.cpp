#include "host/p2p/PeerProtocol.h"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace orsap2p {

const char kRequestPrefix[] = "ORSAP2P/1 GET ";
const char kAnswerOkPrefix[] = "ORSAP2P/1 OK ";
const char kAnswerNotFound[] = "ORSAP2P/1 NOTFOUND\n";
const char kAnswerBad[] = "ORSAP2P/1 BAD\n";
const char kAnswerBusy[] = "ORSAP2P/1 BUSY\n";

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

}  // namespace

Wait WaitFor(int fd, short events, int ms, int stopFd) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
    const int n = ::poll(fds, stopFd >= 0 ? 2 : 1, MsLeft(deadline));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Wait::kFailed;
    }
    if (stopFd >= 0 && fds[1].revents != 0) return Wait::kStopped;
    if (fds[0].revents & (events | POLLHUP | POLLERR)) return Wait::kReady;
    if (n == 0 || MsLeft(deadline) == 0) return Wait::kTimedOut;
  }
}

Wait ReadLine(int fd, int ms, int stopFd, std::string& line, std::string& rest) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
  std::string data;
  char buffer[256];
  for (;;) {
    const size_t end = data.find('\n');
    if (end != std::string::npos) {
      if (end > kMaxLine) return Wait::kFailed;
      line = data.substr(0, end);
      rest = data.substr(end + 1);
      return Wait::kReady;
    }
    if (data.size() > kMaxLine) return Wait::kFailed;
    const Wait w = WaitFor(fd, POLLIN, MsLeft(deadline), stopFd);
    if (w != Wait::kReady) return w;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n <= 0) return Wait::kFailed;
    data.append(buffer, static_cast<size_t>(n));
  }
}

Wait SendAll(int fd, const char* data, size_t length, int ms, int stopFd) {
  size_t sent = 0;
  while (sent < length) {
    const ssize_t n = ::send(fd, data + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return Wait::kFailed;
    const Wait w = WaitFor(fd, POLLOUT, ms, stopFd);
    if (w != Wait::kReady) return w;
  }
  return Wait::kReady;
}

int ConnectTo(const std::string& host, int port, int ms, int stopFd, Wait& why,
              std::string& error) {
  why = Wait::kFailed;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (rc != 0) {
    error = gai_strerror(rc);
    return -1;
  }
  int connected = -1;
  error = "no address";
  for (addrinfo* a = found; a != nullptr && connected < 0; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
      error = strerror(errno);
      continue;
    }
    if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
      connected = fd;
      break;
    }
    if (errno != EINPROGRESS) {
      error = strerror(errno);
      ::close(fd);
      continue;
    }
    why = WaitFor(fd, POLLOUT, ms, stopFd);
    int soError = 0;
    socklen_t len = sizeof soError;
    if (why == Wait::kReady && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) == 0 &&
        soError == 0) {
      connected = fd;
      break;
    }
    error = why == Wait::kTimedOut ? "connect timed out" : strerror(soError ? soError : errno);
    ::close(fd);
    if (why == Wait::kStopped) break;
    why = Wait::kFailed;
  }
  ::freeaddrinfo(found);
  if (connected >= 0) why = Wait::kReady;
  return connected;
}

Pace::Pace(int windowMs, uint64_t minBytes)
    : start_(Clock::now()), windowMs_(windowMs), minBytes_(minBytes) {}

bool Pace::Stalled() {
  if (MsLeft(start_ + std::chrono::milliseconds(windowMs_)) > 0) return false;
  if (bytes_ < minBytes_) return true;
  start_ = Clock::now();
  bytes_ = 0;
  return false;
}

int Pace::Remaining() const {
  return std::max(1, MsLeft(start_ + std::chrono::milliseconds(windowMs_)));
}

}  // namespace orsap2p
