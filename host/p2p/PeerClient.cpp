#include "host/p2p/PeerClient.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "host/p2p/Md5.h"
#include "host/p2p/PeerProtocol.h"

namespace orsap2p {
namespace {

constexpr uint64_t kMinBytesPerWindow = 4096;
constexpr int kMaxConnectMs = 10000;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool Reset() {
    const bool ok = fd_ < 0 || ::close(fd_) == 0;
    fd_ = -1;
    return ok;
  }

 private:
  int fd_;
};

// The temporary file: removed unless kept.
class TempFile {
 public:
  explicit TempFile(const std::string& folder) : path_(folder + "/.orsap2p-XXXXXX") {
    fd_ = ::mkostemp(&path_[0], O_CLOEXEC);
    if (fd_ < 0) path_.clear();
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  int fd() const { return fd_; }
  bool Write(const char* data, size_t length) {
    while (length > 0) {
      const ssize_t n = ::write(fd_, data, length);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      length -= static_cast<size_t>(n);
    }
    return true;
  }
  // Flushes, closes and renames it to `target`; then it is no longer removed.
  bool Keep(const std::string& target) {
    const bool ok = ::fsync(fd_) == 0 && ::close(fd_) == 0;
    fd_ = -1;
    if (!ok || ::rename(path_.c_str(), target.c_str()) != 0) return false;
    path_.clear();
    return true;
  }

 private:
  std::string path_;
  int fd_ = -1;
};

bool ParseSize(const std::string& text, uint64_t& size) {
  if (text.empty() || text.size() > 15 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  size = std::strtoull(text.c_str(), nullptr, 10);
  return size <= kMaxFileSize;
}

void SyncFolder(const std::string& folder) {
  Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0) ::fsync(fd.get());
}

}  // namespace

Fetch FetchFromPeer(const Peer& peer, const std::string& md5, const std::string& folder,
                    const std::string& name, int timeoutSeconds, int stopFd, std::string& detail) {
  const int timeoutMs = timeoutSeconds * 1000;
  Wait why = Wait::kFailed;
  Fd socket(
      ConnectTo(peer.host, peer.port, std::min(timeoutMs, kMaxConnectMs), stopFd, why, detail));
  if (why == Wait::kStopped) return Fetch::kStopped;
  if (socket.get() < 0) return Fetch::kUnreachable;

  const std::string request = std::string(kRequestPrefix) + md5 + "\n";
  why = SendAll(socket.get(), request.data(), request.size(), timeoutMs, stopFd);
  std::string line;
  std::string body;
  if (why == Wait::kReady) why = ReadLine(socket.get(), timeoutMs, stopFd, line, body);
  if (why == Wait::kStopped) return Fetch::kStopped;
  if (why == Wait::kTimedOut) {
    detail = "no answer in time";
    return Fetch::kUnreachable;
  }
  if (why != Wait::kReady) {
    detail = "no valid answer";
    return Fetch::kBroken;
  }
  if (line + "\n" == kAnswerNotFound) {
    detail = "not held";
    return Fetch::kNotHeld;
  }
  if (line + "\n" == kAnswerBusy) {
    detail = "busy";
    return Fetch::kNotHeld;
  }
  const std::string ok = kAnswerOkPrefix;
  uint64_t size = 0;
  if (line.compare(0, ok.size(), ok) != 0 || !ParseSize(line.substr(ok.size()), size)) {
    detail = "unexpected answer \"" + line + "\"";
    return Fetch::kBroken;
  }

  TempFile temp(folder);
  if (temp.fd() < 0) {
    detail = "cannot create a file in " + folder + ": " + strerror(errno);
    return Fetch::kLocalFailure;
  }
  Md5 digest;
  uint64_t received = 0;
  auto take = [&](const char* data, size_t length) {
    length = static_cast<size_t>(std::min<uint64_t>(length, size - received));
    digest.Update(data, length);
    received += length;
    return temp.Write(data, length);
  };
  if (!take(body.data(), body.size())) {
    detail = "cannot write in " + folder + ": " + strerror(errno);
    return Fetch::kLocalFailure;
  }
  Pace pace(timeoutMs, kMinBytesPerWindow);
  std::vector<char> chunk(256 * 1024);
  while (received < size) {
    const ssize_t n = ::recv(socket.get(), chunk.data(), chunk.size(), MSG_DONTWAIT);
    if (n > 0) {
      pace.Add(static_cast<uint64_t>(n));
      if (!take(chunk.data(), static_cast<size_t>(n))) {
        detail = "cannot write in " + folder + ": " + strerror(errno);
        return Fetch::kLocalFailure;
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      detail = "connection ended after " + std::to_string(received) + " of " +
               std::to_string(size) + " bytes";
      return Fetch::kBroken;
    }
    if (pace.Stalled()) {
      detail =
          "stalled after " + std::to_string(received) + " of " + std::to_string(size) + " bytes";
      return Fetch::kBroken;
    }
    const Wait w = WaitFor(socket.get(), POLLIN, pace.Remaining(), stopFd);
    if (w == Wait::kStopped) return Fetch::kStopped;
    if (w == Wait::kFailed) {
      detail = "connection failed";
      return Fetch::kBroken;
    }
  }
  const std::string actual = digest.HexDigest();
  if (actual != md5) {
    detail = "content has md5 " + actual;
    return Fetch::kBadContent;
  }
  if (!temp.Keep(folder + "/" + name)) {
    detail = "cannot store " + folder + "/" + name + ": " + strerror(errno);
    return Fetch::kLocalFailure;
  }
  SyncFolder(folder);
  return Fetch::kStored;
}

}  // namespace orsap2p
