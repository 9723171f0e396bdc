#include "host/p2p/P2pDownload.h"

#include "host/p2p/Md5.h"
#include "host/p2p/P2pSettings.h"
#include "host/p2p/PeerClient.h"
#include "host/p2p/PeerServer.h"
#include "orsa/ILogger.h"
#include "platform/File.h"
#include "platform/StateRoot.h"
#include "platform/StopToken.h"

namespace orsap2p {
namespace {

const char kChannel[] = "orsap2p";
const char kSource[] = "P2pDownload";

bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("/\\") == std::string::npos && name.find('\0') == std::string::npos;
}

std::string PeerText(const Peer& peer) { return peer.host + ":" + std::to_string(peer.port); }

}  // namespace

P2pDownload::P2pDownload() = default;

P2pDownload::~P2pDownload() {
  std::unique_ptr<PeerServer> server;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    server.swap(server_);
  }
  server.reset();  // joins its threads
}

void P2pDownload::Log(int level, const std::string& message, int line) const {
  try {
    orsa::ILogManagerPtr logs = runtime_ ? runtime_->getLogManager() : orsa::ILogManagerPtr();
    if (logs) orsa::LogAt(logs->getLogger(kChannel), level, message, kSource, line);
  } catch (...) {
    // Logging never changes what the service answers.
  }
}

int P2pDownload::setServerHost(const std::string& folder, int port, int peerPort) {
  try {
    if (folder.empty() || port < 0 || port > 65535 || peerPort <= 0 || peerPort > 65535) {
      Log(orsa::kLogError, "no update folder or a bad port given; nothing served", __LINE__);
      return 1;
    }
    const std::string native = platform::NativePath(folder);
    platform::CreateDirectories(native);
    const P2pSettings settings = ReadP2pSettings(port, peerPort);
    ServerConfig config;
    config.folder = native;
    config.bindAddress = settings.bindAddress;
    config.port = settings.listenPort;
    config.maxConnections = settings.maxConnections;
    config.timeoutSeconds = settings.timeoutSeconds;

    std::unique_ptr<PeerServer> old;
    std::lock_guard<std::mutex> lock(mutex_);
    folder_ = native;
    listenPort_ = port;
    peerPort_ = peerPort;
    if (server_) {
      const ServerConfig& running = server_->Config();
      if (running.folder == config.folder && running.bindAddress == config.bindAddress &&
          running.port == config.port && running.maxConnections == config.maxConnections &&
          running.timeoutSeconds == config.timeoutSeconds)
        return 0;
      old.swap(server_);
      old->Stop();
    }
    auto server = std::make_unique<PeerServer>(
        config, [this](int level, const std::string& m) { Log(level, m, __LINE__); });
    std::string error;
    if (!server->Start(error)) {
      Log(orsa::kLogError,
          "cannot serve " + native + " on " + config.bindAddress + ":" +
              std::to_string(config.port) + ": " + error,
          __LINE__);
      return 2;
    }
    Log(orsa::kLogInformation,
        "serving " + native + " on " + config.bindAddress + ":" + std::to_string(server->Port()),
        __LINE__);
    server_ = std::move(server);
    return 0;
  } catch (...) {
    return 2;
  }
}

int P2pDownload::download(const std::string& md5Text, const std::string& fileName, int) {
  try {
    if (!IsMd5Text(md5Text) || !IsPlainName(fileName)) {
      Log(orsa::kLogWarning, "refused to fetch \"" + fileName + "\" for md5 \"" + md5Text + "\"",
          __LINE__);
      return kP2pBadArgument;
    }
    const std::string md5 = LowerCase(md5Text);
    std::string folder;
    int listenPort = 0;
    int peerPort = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      folder = folder_;
      listenPort = listenPort_;
      peerPort = peerPort_;
    }
    if (folder.empty()) {
      Log(orsa::kLogWarning, "no update folder set; " + fileName + " not fetched", __LINE__);
      return kP2pNoFolder;
    }
    const P2pSettings settings = ReadP2pSettings(listenPort, peerPort);
    if (settings.peers.empty()) {
      Log(orsa::kLogWarning, "no peers configured; " + fileName + " not fetched", __LINE__);
      return kP2pNoPeers;
    }
    const platform::StopToken token = platform::CurrentStopToken();
    const platform::WaitHandle stop = token.WaitEvent();
    int result = kP2pNotFound;
    for (const Peer& peer : settings.peers) {
      if (token.StopRequested()) return kP2pCancelled;
      std::string detail;
      const Fetch fetch =
          FetchFromPeer(peer, md5, folder, fileName, settings.timeoutSeconds, stop, detail);
      const std::string what = fileName + " (" + md5 + ") from " + PeerText(peer);
      switch (fetch) {
        case Fetch::kStored:
          Log(orsa::kLogInformation, "stored " + what, __LINE__);
          return kP2pStored;
        case Fetch::kStopped:
          return kP2pCancelled;
        case Fetch::kLocalFailure:
          Log(orsa::kLogError, "cannot store " + what + ": " + detail, __LINE__);
          return kP2pLocalFailure;
        case Fetch::kBadContent:
        case Fetch::kBroken:
          Log(orsa::kLogWarning, "failed to fetch " + what + ": " + detail, __LINE__);
          result = kP2pTransferFailed;
          break;
        case Fetch::kNotHeld:
        case Fetch::kUnreachable:
          Log(orsa::kLogInformation, "no " + what + ": " + detail, __LINE__);
          break;
      }
    }
    return result;
  } catch (...) {
    return kP2pLocalFailure;
  }
}

}  // namespace orsap2p
