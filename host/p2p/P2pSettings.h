#pragma once
// Settings of the peer-to-peer service, in the registry under
// HKLM\SOFTWARE\Kelvor\QUOR5.0\Composites\orsap2p (read afresh where used):
//   ListenPort      DWORD   port this machine serves on; default: the port
//                           given to setServerHost (20100); 0 picks a free one
//   BindAddress     REG_SZ  IPv4 or IPv6 address to serve on; default 0.0.0.0
//   Peers           REG_SZ  "host[:port];..." asked in this order; a peer
//                           without a port listens on the peer port given to
//                           setServerHost (20100); default: none
//   MaxConnections  DWORD   peers served at once, 1 to 256; default 16
//   TimeoutSeconds  DWORD   a peer that moves less than 4 KiB in this many
//                           seconds is dropped, on both sides; 1 to 3600;
//                           default 30
#include <cstdint>
#include <string>
#include <vector>

namespace orsap2p {

extern const char kSettingsKey[];

struct Peer {
  std::string host;
  int port = 0;
};

struct P2pSettings {
  int listenPort = 20100;
  std::string bindAddress = "0.0.0.0";
  std::vector<Peer> peers;
  int maxConnections = 16;
  int timeoutSeconds = 30;
};

// The settings, with `listenPort` and `peerPort` as the defaults of the ports.
// Peer entries that are empty or carry a port outside 1 to 65535 are skipped.
P2pSettings ReadP2pSettings(int listenPort, int peerPort);

// "host", "host:port", "[v6]:port"; false for an empty host or a bad port.
bool ParsePeer(const std::string& text, int defaultPort, Peer& peer);

}  // namespace orsap2p
