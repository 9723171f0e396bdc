#pragma once
// The peer-to-peer download service of the orsap2p composite.
//
// setServerHost gives it the update folder: it serves that folder's files to
// peers by MD5 (host/p2p/PeerServer.h) and stores what it fetches there.
// download asks the configured peers in turn (host/p2p/P2pSettings.h) and
// stores the first copy whose MD5 matches under the given name, atomically.
//
// Threads: setServerHost and download may be called from any thread; a
// download runs on the caller's thread and ends early on its quit request
// (platform/StopToken.h). The object's destruction stops the server.
// Logging: channel "orsap2p", through the runtime the composite was given.
// Exceptions: none leave its operations.
#include <memory>
#include <mutex>
#include <string>

#include "orsa/INet.h"
#include "orsa/IRuntime.h"

namespace orsap2p {

class PeerServer;

// Result codes of download().
enum P2pCode {
  kP2pStored = 1,
  kP2pBadArgument = -1,     // not an MD5 text, or a name that is not a plain file name
  kP2pNoFolder = -2,        // setServerHost has not given a folder
  kP2pNoPeers = -3,         // no peer configured
  kP2pNotFound = -4,        // no peer reachable that holds the file
  kP2pTransferFailed = -5,  // a peer sent other content, or stopped mid-file
  kP2pLocalFailure = -6,    // the file could not be written here
  kP2pCancelled = -7,       // the quit request ended it
};

class P2pDownload : public orsa::net::IP2pDownload {
 public:
  P2pDownload();
  ~P2pDownload() override;

  // The runtime whose log manager receives the service's lines.
  void Attach(orsa::IRuntime* runtime) { runtime_ = runtime; }

  // `md5`: 32 hexadecimal digits (either case); `fileName`: a bare name.
  int download(const std::string& md5, const std::string& fileName, int flags) override;
  // `folder`: the update folder (Windows-style paths accepted; created when
  // missing); `port`: the port to serve on unless the settings name one;
  // `peerPort`: the port of peers named without one. 0 when the folder was
  // taken and is served; 1 for an empty folder or a bad port (nothing
  // changes); 2 when the folder was taken for downloads but cannot be served
  // (the port is taken, say). Calling it again with the same values keeps
  // the running server.
  int setServerHost(const std::string& folder, int port, int peerPort) override;

 private:
  void Log(int level, const std::string& message, int line) const;

  orsa::IRuntime* runtime_ = nullptr;
  mutable std::mutex mutex_;  // every field below
  std::string folder_;        // native path; "" until setServerHost
  int listenPort_ = 20100;
  int peerPort_ = 20100;
  std::unique_ptr<PeerServer> server_;
};

}  // namespace orsap2p
