#include "host/p2p/PeerServer.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "host/p2p/Md5.h"
#include "host/p2p/PeerProtocol.h"
#include "orsa/ILogger.h"

namespace orsap2p {
namespace {

constexpr uint64_t kMinBytesPerWindow = 4096;
constexpr size_t kChunk = 256 * 1024;

// Any IPv4 or IPv6 literal; false for anything else.
bool MakeAddress(const std::string& text, int port, sockaddr_storage& address, socklen_t& length) {
  address = sockaddr_storage{};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
  if (::inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(port));
    length = sizeof(sockaddr_in);
    return true;
  }
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
  if (::inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(port));
    length = sizeof(sockaddr_in6);
    return true;
  }
  return false;
}

}  // namespace

PeerServer::PeerServer(ServerConfig config, LogFn log)
    : config_(std::move(config)), log_(std::move(log)), index_(config_.folder) {}

PeerServer::~PeerServer() { Stop(); }

bool PeerServer::Start(std::string& error) {
  sockaddr_storage address{};
  socklen_t length = 0;
  if (!MakeAddress(config_.bindAddress, config_.port, address, length)) {
    error = "not an IP address: " + config_.bindAddress;
    return false;
  }
  listenFd_ = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  int one = 1;
  if (listenFd_ < 0 || ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
      ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listenFd_, 64) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ::pipe2(wake_, O_CLOEXEC) != 0) {
    error = strerror(errno);
    Stop();
    return false;
  }
  port_ =
      ntohs(address.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&address)->sin_port
                                         : reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
  acceptor_ = std::thread([this] { Accept(); });
  return true;
}

void PeerServer::Stop() {
  if (wake_[1] >= 0) {
    char c = 'q';
    (void)!::write(wake_[1], &c, 1);
  }
  if (acceptor_.joinable()) acceptor_.join();
  Reap(true);
  for (int* fd : {&listenFd_, &wake_[0], &wake_[1]}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

void PeerServer::Reap(bool all) {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (all || (*it)->done.load()) {
      (*it)->thread.join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void PeerServer::Accept() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
    if (fds[1].revents != 0) break;
    Reap(false);
    if ((fds[0].revents & POLLIN) == 0) continue;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      // Out of descriptors or similar: give the system a moment instead of spinning.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
        WaitFor(wake_[0], POLLIN, 100, -1);
      continue;
    }
    if (active_.load() >= config_.maxConnections) {
      (void)!::send(fd, kAnswerBusy, strlen(kAnswerBusy), MSG_NOSIGNAL | MSG_DONTWAIT);
      ::close(fd);
      continue;
    }
    auto connection = std::make_unique<Connection>();
    Connection* c = connection.get();
    ++active_;
    try {
      c->thread = std::thread([this, c, fd] {
        try {
          Serve(fd);
        } catch (...) {
          // A connection's failure (memory) ends that connection only.
        }
        ::close(fd);
        --active_;
        c->done.store(true);
      });
      connections_.push_back(std::move(connection));
    } catch (...) {
      ::close(fd);
      --active_;
    }
  }
}

void PeerServer::Serve(int fd) {
  const int timeoutMs = config_.timeoutSeconds * 1000;
  std::string line;
  std::string rest;
  if (ReadLine(fd, timeoutMs, wake_[0], line, rest) != Wait::kReady) return;
  const std::string prefix = kRequestPrefix;
  const std::string md5 =
      line.compare(0, prefix.size(), prefix) == 0 ? line.substr(prefix.size()) : "";
  if (!IsMd5Text(md5) || md5 != LowerCase(md5)) {
    SendAll(fd, kAnswerBad, strlen(kAnswerBad), timeoutMs, wake_[0]);
    return;
  }
  uint64_t size = 0;
  const int file = index_.Open(md5, size);
  if (file < 0) {
    SendAll(fd, kAnswerNotFound, strlen(kAnswerNotFound), timeoutMs, wake_[0]);
    return;
  }
  const std::string head = std::string(kAnswerOkPrefix) + std::to_string(size) + "\n";
  Pace pace(timeoutMs, kMinBytesPerWindow);
  bool ok = SendAll(fd, head.data(), head.size(), timeoutMs, wake_[0]) == Wait::kReady;
  std::vector<char> chunk(kChunk);
  uint64_t sent = 0;
  while (ok && sent < size) {
    const ssize_t n = ::pread(file, chunk.data(),
                              static_cast<size_t>(std::min<uint64_t>(chunk.size(), size - sent)),
                              static_cast<off_t>(sent));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the file shrank: the peer's digest check refuses what it got
    size_t done = 0;
    while (ok && done < static_cast<size_t>(n)) {
      const ssize_t w = ::send(fd, chunk.data() + done, static_cast<size_t>(n) - done,
                               MSG_NOSIGNAL | MSG_DONTWAIT);
      if (w > 0) {
        done += static_cast<size_t>(w);
        pace.Add(static_cast<uint64_t>(w));
        continue;
      }
      if (w < 0 && errno == EINTR) continue;
      if (w == 0 || (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) ok = false;
      if (!ok) break;
      const Wait wait = WaitFor(fd, POLLOUT, pace.Remaining(), wake_[0]);
      ok = wait != Wait::kStopped && wait != Wait::kFailed && !pace.Stalled();
    }
    sent += done;
  }
  ::close(file);
  if (ok && sent == size)
    log_(orsa::kLogInformation, "served " + md5 + " (" + std::to_string(size) + " bytes)");
}

}  // namespace orsap2p
