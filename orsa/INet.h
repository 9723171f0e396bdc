#pragma once
#include <cstdint>
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

// Bounds of one transfer. A field left 0 takes the host's default.
struct DownloadLimits {
  // A transfer that moves fewer than minBytesPerSecond for windowSeconds ends.
  uint32_t minBytesPerSecond = 0;
  uint32_t windowSeconds = 0;
  // A body that passes this size ends the transfer and its file is deleted.
  uint64_t maxBytes = 0;
};

// Digests of a stored file as lowercase hexadecimal.
struct FileDigests {
  std::string md5;
  std::string sha256;
};

// IDownloader that also bounds the transfer and digests the bytes as it
// writes them, so that the caller need not read the file again to check it.
class IVerifiedDownloader : public IDownloader {
 public:
  static constexpr const char* kTypeName = "orsa::net::IVerifiedDownloader";
  // One try, as download(url, localPath, 1, 0), within `limits`. On 1,
  // `digests` holds the MD5 and SHA-256 of the whole stored file (a resumed
  // transfer's earlier part included); on any other answer both are empty.
  virtual int downloadVerified(const std::string& url, const std::string& localPath,
                               const DownloadLimits& limits, FileDigests& digests) = 0;
};

}  // namespace net
}  // namespace orsa
