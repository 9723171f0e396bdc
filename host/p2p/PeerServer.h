#pragma once
// Serves the files of one folder to peers, by MD5 (host/p2p/PeerProtocol.h).
//
// One thread accepts; each connection gets its own thread, at most
// `maxConnections` at once; a connection beyond that is answered BUSY and
// closed. A peer must send its request within the time-out and then take at
// least 4 KiB per time-out window, or it is dropped, so slow or silent peers
// cannot hold the server.
//
// Threads: Start and Stop from one controlling thread. Stop (and the
// destructor) ends every connection and joins every thread.
#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "host/p2p/FileIndex.h"
#include "platform/Socket.h"
#include "platform/StopToken.h"

namespace orsap2p {

struct ServerConfig {
  std::string folder;  // native path
  std::string bindAddress;
  int port = 0;  // 0: a free one
  int maxConnections = 16;
  int timeoutSeconds = 30;
};

class PeerServer {
 public:
  using LogFn = std::function<void(int level, const std::string& message)>;

  PeerServer(ServerConfig config, LogFn log);
  ~PeerServer();
  PeerServer(const PeerServer&) = delete;
  PeerServer& operator=(const PeerServer&) = delete;

  // Binds and listens; false with `error` set when it cannot.
  bool Start(std::string& error);
  void Stop();
  // The port it listens on once started.
  int Port() const { return port_; }
  const ServerConfig& Config() const { return config_; }

 private:
  struct Connection {
    std::thread thread;
    std::atomic<bool> done{false};
  };
  void Accept();
  void Serve(platform::Socket& socket);
  void Reap(bool all);

  ServerConfig config_;
  LogFn log_;
  FileIndex index_;
  platform::Socket listener_;
  platform::StopSource stop_;  // requested once, by Stop; every wait watches it
  platform::WaitHandle wake_ = stop_.Token().WaitEvent();
  int port_ = 0;
  std::thread acceptor_;
  std::list<std::unique_ptr<Connection>> connections_;  // acceptor thread only
  std::atomic<int> active_{0};
};

}  // namespace orsap2p
