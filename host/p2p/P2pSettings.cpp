#include "host/p2p/P2pSettings.h"

#include <algorithm>
#include <cstdlib>

#include "platform/Registry.h"

namespace orsap2p {

const char kSettingsKey[] = "SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\orsap2p";

namespace {

bool ReadDword(platform::RegKey key, const char* name, int& value) {
  uint32_t type = 0;
  uint32_t data = 0;
  uint32_t size = sizeof data;
  if (platform::QueryRegValue(key, name, &type, reinterpret_cast<unsigned char*>(&data), &size) !=
          platform::kErrorSuccess ||
      type != platform::kRegDword || size != sizeof data)
    return false;
  value = static_cast<int>(std::min<uint32_t>(data, 1u << 30));
  return true;
}

std::string ReadString(platform::RegKey key, const char* name) {
  uint32_t type = 0;
  uint32_t size = 0;
  if (platform::QueryRegValue(key, name, &type, nullptr, &size) != platform::kErrorSuccess ||
      (type != platform::kRegSz && type != platform::kRegExpandSz) || size == 0 || size > 65536)
    return "";
  std::string data(size, '\0');
  if (platform::QueryRegValue(key, name, &type, reinterpret_cast<unsigned char*>(&data[0]),
                              &size) != platform::kErrorSuccess)
    return "";
  data.resize(std::min<size_t>(size, data.size()));
  return data.substr(0, data.find('\0'));
}

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool ParsePort(const std::string& text, int& port) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  port = std::atoi(text.c_str());
  return port >= 1 && port <= 65535;
}

}  // namespace

bool ParsePeer(const std::string& raw, int defaultPort, Peer& peer) {
  const std::string text = Trim(raw);
  std::string host = text;
  int port = defaultPort;
  if (!text.empty() && text[0] == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos) return false;
    host = text.substr(1, close - 1);
    const std::string after = text.substr(close + 1);
    if (!after.empty() && (after[0] != ':' || !ParsePort(after.substr(1), port))) return false;
  } else {
    const size_t colon = text.find(':');
    // More than one colon is a bare IPv6 address without a port.
    if (colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
      host = text.substr(0, colon);
      if (!ParsePort(text.substr(colon + 1), port)) return false;
    }
  }
  if (host.empty() || port < 1 || port > 65535) return false;
  peer.host = host;
  peer.port = port;
  return true;
}

P2pSettings ReadP2pSettings(int listenPort, int peerPort) {
  P2pSettings settings;
  settings.listenPort = listenPort;
  platform::RegKey key = nullptr;
  if (platform::OpenRegKey(platform::RegRoot::kLocalMachine, kSettingsKey, platform::kKeyRead,
                           &key) != platform::kErrorSuccess)
    return settings;
  int value = 0;
  if (ReadDword(key, "ListenPort", value) && value <= 65535) settings.listenPort = value;
  const std::string bind = Trim(ReadString(key, "BindAddress"));
  if (!bind.empty()) settings.bindAddress = bind;
  if (ReadDword(key, "MaxConnections", value)) settings.maxConnections = std::clamp(value, 1, 256);
  if (ReadDword(key, "TimeoutSeconds", value)) settings.timeoutSeconds = std::clamp(value, 1, 3600);
  const std::string peers = ReadString(key, "Peers");
  size_t start = 0;
  while (start <= peers.size()) {
    size_t end = peers.find(';', start);
    if (end == std::string::npos) end = peers.size();
    Peer peer;
    if (ParsePeer(peers.substr(start, end - start), peerPort, peer)) settings.peers.push_back(peer);
    start = end + 1;
  }
  platform::CloseRegKey(key);
  return settings;
}

}  // namespace orsap2p
