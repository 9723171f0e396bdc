#pragma once
#include <string>

#include "orsa/IOrsaObject.h"

namespace orsa {
namespace net {

// Peer-to-peer transfer of files addressed by their MD5.
class IP2pDownload : public IOrsaObject {
 public:
  static constexpr const char* kTypeName = "orsa::net::IP2pDownload";
  // Fetches the file with that MD5 from a peer into the update folder under
  // `fileName`; 1 when the file was stored.
  virtual int download(const std::string& md5, const std::string& fileName, int flags) = 0;
  // Tells the service its update folder and ports; 0 on success.
  virtual int setServerHost(const std::string& folder, int port, int peerPort) = 0;
};

// HTTP(S) download of one address into one local file.
class IDownloader : public IOrsaObject {
 public:
  static constexpr const char* kTypeName = "orsa::net::IDownloader";
  // 1 when the file was stored at `localPath` (replaced whole, never half written).
  virtual int download(const std::string& url, const std::string& localPath, int retries,
                       int flags) = 0;
};

}  // namespace net
}  // namespace orsa
