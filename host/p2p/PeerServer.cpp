#include "host/p2p/PeerServer.h"

#include <cstring>
#include <vector>

#include "host/p2p/Md5.h"
#include "host/p2p/PeerProtocol.h"
#include "orsa/ILogger.h"

namespace orsap2p {
namespace {

constexpr uint64_t kMinBytesPerWindow = 4096;
constexpr size_t kChunk = 256 * 1024;

}  // namespace

PeerServer::PeerServer(ServerConfig config, LogFn log)
    : config_(std::move(config)), log_(std::move(log)), index_(config_.folder) {}

PeerServer::~PeerServer() { Stop(); }

bool PeerServer::Start(std::string& error) {
  listener_ = platform::Socket::Listen(config_.bindAddress, config_.port, 64, &error);
  if (!listener_.Valid()) return false;
  port_ = listener_.LocalPort();
  try {
    acceptor_ = std::thread([this] { Accept(); });
  } catch (...) {
    error = "cannot start a thread";
    listener_.Close();
    return false;
  }
  return true;
}

void PeerServer::Stop() {
  stop_.RequestStop();
  if (acceptor_.joinable()) acceptor_.join();
  Reap(true);
  listener_.Close();
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
    const Wait wait = listener_.WaitReadable(platform::kSocketWaitForever, wake_);
    if (wait == Wait::kStopped || wait == Wait::kFailed) break;
    Reap(false);
    bool shortage = false;
    platform::Socket accepted = listener_.Accept(&shortage);
    if (!accepted.Valid()) {
      // Out of descriptors or similar: give the system a moment instead of spinning.
      if (shortage && !stop_.Token().WaitFor(100)) break;
      continue;
    }
    if (active_.load() >= config_.maxConnections) {
      (void)accepted.Send(kAnswerBusy, std::strlen(kAnswerBusy));
      continue;
    }
    auto connection = std::make_unique<Connection>();
    Connection* c = connection.get();
    ++active_;
    try {
      auto socket = std::make_shared<platform::Socket>(std::move(accepted));
      c->thread = std::thread([this, c, socket] {
        try {
          Serve(*socket);
        } catch (...) {
          // A connection's failure (memory) ends that connection only.
        }
        // The slot is free before the peer sees the end: a peer that connects
        // again at once is served, not turned away as busy.
        --active_;
        socket->Close();
        c->done.store(true);
      });
      connections_.push_back(std::move(connection));
    } catch (...) {
      --active_;
    }
  }
}

void PeerServer::Serve(platform::Socket& socket) {
  const int timeoutMs = config_.timeoutSeconds * 1000;
  std::string line;
  std::string rest;
  if (ReadLine(socket, timeoutMs, wake_, line, rest) != Wait::kReady) return;
  const std::string prefix = kRequestPrefix;
  const std::string md5 =
      line.compare(0, prefix.size(), prefix) == 0 ? line.substr(prefix.size()) : "";
  if (!IsMd5Text(md5) || md5 != LowerCase(md5)) {
    SendAll(socket, kAnswerBad, std::strlen(kAnswerBad), timeoutMs, wake_);
    return;
  }
  uint64_t size = 0;
  platform::ReadOnlyFile file;
  if (!index_.Open(md5, file, size)) {
    SendAll(socket, kAnswerNotFound, std::strlen(kAnswerNotFound), timeoutMs, wake_);
    return;
  }
  const std::string head = std::string(kAnswerOkPrefix) + std::to_string(size) + "\n";
  Pace pace(timeoutMs, kMinBytesPerWindow);
  bool ok = SendAll(socket, head.data(), head.size(), timeoutMs, wake_) == Wait::kReady;
  std::vector<char> chunk(kChunk);
  uint64_t sent = 0;
  while (ok && sent < size) {
    size_t got = 0;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(chunk.size(), size - sent));
    if (file.ReadAt(sent, chunk.data(), want, &got) != platform::kErrorSuccess || got == 0)
      break;  // the file shrank: the peer's digest check refuses what it got
    size_t done = 0;
    while (ok && done < got) {
      const long w = socket.Send(chunk.data() + done, got - done);
      if (w > 0) {
        done += static_cast<size_t>(w);
        pace.Add(static_cast<uint64_t>(w));
        continue;
      }
      if (w != platform::Socket::kWouldBlock) {
        ok = false;
        break;
      }
      const Wait wait = socket.WaitWritable(pace.Remaining(), wake_);
      ok = wait != Wait::kStopped && wait != Wait::kFailed && !pace.Stalled();
    }
    sent += done;
  }
  file.Close();
  if (ok && sent == size)
    log_(orsa::kLogInformation, "served " + md5 + " (" + std::to_string(size) + " bytes)");
}

}  // namespace orsap2p
