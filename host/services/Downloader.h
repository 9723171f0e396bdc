#pragma once
// The host's HTTP(S) downloader (orsa::net::IDownloader) over libcurl.
//
// A transfer streams the body into "<target>.part" beside the target and
// renames it over the target only once the body is complete and on disk, so
// the target is never seen half written. A transfer cut short (connection
// lost, stalled, stopped) keeps the ".part" file when the server's answer
// allowed ranges (a 206 answer, or "Accept-Ranges: bytes"), and the next
// download of the same target asks for the rest with a range request; a server
// that ignores the range sends the whole body again and the file starts over.
// Without ranges the partial file is deleted. A body that runs past the length
// the server announced or past the maximum size ends the transfer and its
// file is deleted. Memory does not grow with the file's size.
#include <cstdint>
#include <functional>
#include <string>

#include "orsa/ILogger.h"
#include "orsa/INet.h"

namespace orsahost {

struct DownloaderOptions {
  // Time allowed to establish the connection (TCP and TLS handshake).
  long connectTimeoutMs = 15000;
  // A transfer slower than lowSpeedBytes per second for lowSpeedSeconds ends:
  // a server that stalls or trickles costs at most that long.
  long lowSpeedBytes = 1024;
  long lowSpeedSeconds = 60;
  // A body larger than this ends the transfer (2 GiB).
  uint64_t maxBytes = uint64_t{2048} << 20;
  // Redirects followed at most (http and https targets only).
  long maxRedirects = 5;
  // PEM file of the certificate authorities for https; empty: the system's
  // store. Certificates and host names are always verified.
  std::string caBundle;
  // Logger for one line per failed or finished transfer (channel "orsa",
  // source "Downloader"); may be empty.
  orsa::ILogManagerPtr logs;
  // Polled while waiting; true stops the transfer. Empty: the calling
  // thread's quit request (platform/StopToken.h) is watched, and its wake-up
  // descriptor ends a wait at once.
  std::function<bool()> cancelRequested;
};

// Result codes of download(): 1 stored; a positive HTTP status (404, 500, ...)
// when the server answered with one other than 200 or 206; otherwise one of these.
enum DownloadCode {
  kDownloadStored = 1,
  kDownloadBadArgument = -1,  // empty or non-http(s) address, empty or unusable path
  kDownloadLocalFailure =
      -2,  // the partial or target file could not be written, flushed or renamed
  kDownloadTransportFailure = -3,  // connection refused or lost, name not resolved, TLS refused
  kDownloadTimedOut = -4,          // connect time-out or low-speed time-out
  kDownloadCancelled = -5,         // the quit request (or cancelRequested) stopped it
  kDownloadBadRange = -6,          // the server answered a range other than the one asked for
  kDownloadTooLong = -7,           // the body ran past the announced length or the maximum size
};

// Threads: download may run on several threads at once, each with its own
// connection; two calls for the same target at the same time are not supported.
class Downloader : public orsa::net::IVerifiedDownloader {
 public:
  Downloader();
  explicit Downloader(DownloaderOptions options);

  // `url`: http or https address. `localPath`: the target, Windows-style
  // paths accepted (platform::NativePath); its folder must exist. `tries`:
  // attempts in this call, a transport failure or time-out being tried again
  // from where it stopped; below 1 counts as 1. `flags`: reserved (0).
  // Never throws.
  int download(const std::string& url, const std::string& localPath, int tries, int flags) override;
  // One try within `limits` (a 0 field takes the options' value); on 1 the
  // digests of the stored file, computed while it was written. Never throws.
  int downloadVerified(const std::string& url, const std::string& localPath,
                       const orsa::net::DownloadLimits& limits,
                       orsa::net::FileDigests& digests) override;

 private:
  struct Bounds {
    long minBytesPerSecond;
    long windowSeconds;
    uint64_t maxBytes;
  };
  int Run(const std::string& url, const std::string& localPath, int tries, const Bounds& bounds,
          orsa::net::FileDigests* digests);
  int Attempt(const std::string& url, const std::string& target, const std::string& part,
              const Bounds& bounds, orsa::net::FileDigests* digests, std::string& detail);
  void Log(int level, const std::string& message) const;

  DownloaderOptions options_;
};

}  // namespace orsahost
