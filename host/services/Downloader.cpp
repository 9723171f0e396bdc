#include "host/services/Downloader.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <utility>

#include "host/services/CurlLibrary.h"
#include "host/services/CurlPerform.h"
#include "host/services/TransferDigest.h"
#include "platform/File.h"
#include "platform/StateRoot.h"
#include "platform/StopToken.h"
#include "platform/WritableFile.h"

namespace orsahost {
namespace {

const char kChannel[] = "orsa";
const char kSource[] = "Downloader";
const char kPartSuffix[] = ".part";
constexpr long kBufferBytes = 256 * 1024;

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  for (size_t i = 0; prefix[i] != '\0'; ++i) {
    if (i >= text.size() ||
        std::tolower(static_cast<unsigned char>(text[i])) != static_cast<unsigned char>(prefix[i]))
      return false;
  }
  return true;
}

std::string Failure(const std::string& what, long error) {
  return what + ": " + platform::ErrorText(error);
}

long long NumberAt(const std::string& text, size_t at) {
  while (at < text.size() && text[at] == ' ') ++at;
  if (at >= text.size() || !std::isdigit(static_cast<unsigned char>(text[at]))) return -1;
  return std::strtoll(text.c_str() + at, nullptr, 10);
}

// The state of one request. Callbacks run inside curl's C frames: they never throw.
struct Transfer {
  CURL* easy = nullptr;
  platform::WritableFile* file = nullptr;
  TransferDigest* digest = nullptr;  // null: no digests wanted
  std::function<bool()> stop;        // the quit request, while the kept part is digested
  std::string partPath;              // native path of the partial file
  uint64_t maxBytes = 0;
  curl_off_t offset = 0;   // bytes kept from an earlier attempt, asked for with a range
  curl_off_t written = 0;  // bytes of this response's body written
  // Headers of the current response.
  long long rangeStart = -1;     // start of its Content-Range
  long long rangeTotal = -1;     // the whole file's length its Content-Range names
  long long contentLength = -1;  // its Content-Length
  bool acceptRanges = false;     // "Accept-Ranges: bytes"
  // Decided at the first body byte of the final response.
  bool started = false;
  bool rangesAllowed = false;  // a cut transfer may be resumed from its partial file
  long long announced = -1;    // the length the whole file must have, when announced
  bool badRange = false;
  bool badStatus = false;  // a body of a response other than 200/206
  bool writeFailed = false;
  long writeError = 0;
  bool digestFailed = false;  // the kept part could not be read, or the library failed
  bool stopped = false;       // the quit request came while the kept part was digested
  bool pastAnnounced = false;
  bool pastMaximum = false;
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  const std::string line(data, bytes);
  if (StartsWithNoCase(line, "http/")) {
    // A new response (after a redirect or an interim one).
    t->rangeStart = t->rangeTotal = t->contentLength = -1;
    t->acceptRanges = false;
  } else if (StartsWithNoCase(line, "content-range:")) {
    const size_t unit = line.find("bytes");
    if (unit != std::string::npos) t->rangeStart = NumberAt(line, unit + 5);
    const size_t slash = line.find('/');
    if (slash != std::string::npos) t->rangeTotal = NumberAt(line, slash + 1);
  } else if (StartsWithNoCase(line, "content-length:")) {
    t->contentLength = NumberAt(line, 15);
  } else if (StartsWithNoCase(line, "accept-ranges:")) {
    t->acceptRanges = line.find("bytes") != std::string::npos;
  }
  return bytes;
}

// Decides at the first body byte what the body means for the partial file.
bool BeginBody(Transfer* t) {
  long status = 0;
  curl::easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
  if (status == 206) {
    if (t->rangeStart != t->offset) {
      t->badRange = true;
      return false;
    }
    t->rangesAllowed = true;
    t->announced = t->rangeTotal >= 0      ? t->rangeTotal
                   : t->contentLength >= 0 ? t->offset + t->contentLength
                                           : -1;
  } else if (status == 200) {
    t->offset = 0;  // the server ignored the range: the whole body comes again
    t->rangesAllowed = t->acceptRanges;
    t->announced = t->contentLength;
  } else {
    t->badStatus = true;
    return false;
  }
  // A file announced larger than the maximum is refused before a byte is kept.
  if (t->announced >= 0 && static_cast<uint64_t>(t->announced) > t->maxBytes) {
    t->pastMaximum = true;
    return false;
  }
  const long error = t->file->Truncate(static_cast<uint64_t>(t->offset));
  if (error != platform::kErrorSuccess) {
    t->writeFailed = true;
    t->writeError = error;
    return false;
  }
  if (t->digest &&
      !t->digest->ResetToFile(t->partPath, static_cast<uint64_t>(t->offset), t->stop)) {
    t->stopped = t->stop();
    t->digestFailed = !t->stopped;
    return false;
  }
  t->started = true;
  return true;
}

size_t OnWrite(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  if (!t->started && !BeginBody(t)) return 0;  // 0 makes curl end with a write error
  const uint64_t total = static_cast<uint64_t>(t->offset + t->written) + bytes;
  if (t->announced >= 0 && total > static_cast<uint64_t>(t->announced)) {
    t->pastAnnounced = true;
    return 0;
  }
  if (total > t->maxBytes) {
    t->pastMaximum = true;
    return 0;
  }
  const long error = t->file->Write(data, bytes);
  if (error != platform::kErrorSuccess) {
    t->writeFailed = true;
    t->writeError = error;
    return 0;
  }
  if (t->digest) t->digest->Update(data, bytes);
  t->written += static_cast<curl_off_t>(bytes);
  return bytes;
}

struct EasyDeleter {
  void operator()(CURL* c) const { curl::easy_cleanup(c); }
};

}  // namespace

Downloader::Downloader() : Downloader(DownloaderOptions()) {}

Downloader::Downloader(DownloaderOptions options) : options_(std::move(options)) {}

void Downloader::Log(int level, const std::string& message) const {
  if (!options_.logs) return;
  try {
    orsa::ILoggerPtr logger = options_.logs->getLogger(kChannel);
    if (!logger || !logger->is(level)) return;
    if (level == orsa::kLogWarning)
      logger->warning(message, kSource, __LINE__);
    else
      logger->information(message, kSource, __LINE__);
  } catch (...) {
    // A failing logger does not change what the transfer answers.
  }
}

int Downloader::download(const std::string& url, const std::string& localPath, int tries, int) {
  const Bounds bounds{options_.lowSpeedBytes, options_.lowSpeedSeconds, options_.maxBytes};
  return Run(url, localPath, tries, bounds, nullptr);
}

int Downloader::downloadVerified(const std::string& url, const std::string& localPath,
                                 const orsa::net::DownloadLimits& limits,
                                 orsa::net::FileDigests& digests) {
  digests = orsa::net::FileDigests();
  // curl takes a long, which may have 32 bits.
  const auto asLong = [](uint32_t value, long fallback) {
    return value == 0 ? fallback : static_cast<long>(std::min<uint32_t>(value, 0x7fffffff));
  };
  const Bounds bounds{asLong(limits.minBytesPerSecond, options_.lowSpeedBytes),
                      asLong(limits.windowSeconds, options_.lowSpeedSeconds),
                      limits.maxBytes ? limits.maxBytes : options_.maxBytes};
  return Run(url, localPath, 1, bounds, &digests);
}

int Downloader::Run(const std::string& url, const std::string& localPath, int tries,
                    const Bounds& bounds, orsa::net::FileDigests* digests) {
  try {
    if (!StartsWithNoCase(url, "http://") && !StartsWithNoCase(url, "https://")) {
      Log(orsa::kLogWarning, "download " + url + " refused: not an http or https address");
      return kDownloadBadArgument;
    }
    const std::string target = platform::NativePath(localPath);
    if (localPath.empty() || target.empty() || target.back() == '/') {
      Log(orsa::kLogWarning, "download " + url + " refused: no file to store it in");
      return kDownloadBadArgument;
    }
    const std::string part = target + kPartSuffix;
    if (tries < 1) tries = 1;
    int result = kDownloadTransportFailure;
    std::string detail;
    for (int attempt = 0; attempt < tries; ++attempt) {
      result = Attempt(url, target, part, bounds, digests, detail);
      const bool again = result == kDownloadTransportFailure || result == kDownloadTimedOut;
      if (!again) break;
    }
    if (result != kDownloadStored) {
      if (digests) *digests = orsa::net::FileDigests();
      Log(orsa::kLogWarning, "download " + url + " failed: " + detail);
    }
    return result;
  } catch (...) {
    // Only allocation failures get here; the interface promises a code.
    if (digests) *digests = orsa::net::FileDigests();
    return kDownloadLocalFailure;
  }
}

int Downloader::Attempt(const std::string& url, const std::string& target, const std::string& part,
                        const Bounds& bounds, orsa::net::FileDigests* digests,
                        std::string& detail) {
  const curl::CurlLease lease;
  if (!lease.Loaded(&detail)) return kDownloadLocalFailure;
  platform::WritableFile file;
  const long opened = file.Open(part);
  if (opened != platform::kErrorSuccess) {
    detail = Failure("cannot open " + part, opened);
    return kDownloadLocalFailure;
  }

  std::unique_ptr<CURL, EasyDeleter> easy(curl::easy_init());
  if (!easy) {
    detail = "cannot create a connection";
    return kDownloadTransportFailure;
  }
  CURL* c = easy.get();
  std::unique_ptr<TransferDigest> digest;
  if (digests) digest = std::make_unique<TransferDigest>();
  Transfer t;
  t.easy = c;
  t.file = &file;
  t.digest = digest.get();
  t.partPath = part;
  const platform::StopToken token = platform::CurrentStopToken();
  t.stop = [&] {
    return options_.cancelRequested ? options_.cancelRequested() : token.StopRequested();
  };
  t.maxBytes = bounds.maxBytes;
  t.offset = static_cast<curl_off_t>(file.Size());
  const std::string range = std::to_string(t.offset) + "-";
  char error[CURL_ERROR_SIZE] = {0};

  curl::easy_setopt(c, CURLOPT_URL, url.c_str());
  curl::easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl::easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl::easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl::easy_setopt(c, CURLOPT_MAXREDIRS, options_.maxRedirects);
  curl::easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl::easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, options_.connectTimeoutMs);
  curl::easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, bounds.minBytesPerSecond);
  curl::easy_setopt(c, CURLOPT_LOW_SPEED_TIME, bounds.windowSeconds);
  curl::easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl::easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!options_.caBundle.empty()) curl::easy_setopt(c, CURLOPT_CAINFO, options_.caBundle.c_str());
  curl::easy_setopt(c, CURLOPT_BUFFERSIZE, kBufferBytes);
  if (t.offset > 0) curl::easy_setopt(c, CURLOPT_RANGE, range.c_str());
  curl::easy_setopt(c, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl::easy_setopt(c, CURLOPT_HEADERDATA, &t);
  curl::easy_setopt(c, CURLOPT_WRITEFUNCTION, &OnWrite);
  curl::easy_setopt(c, CURLOPT_WRITEDATA, &t);
  curl::easy_setopt(c, CURLOPT_ERRORBUFFER, error);

  const CurlOutcome outcome = PerformWatchingStop(c, options_.cancelRequested);
  const bool stopped = outcome.stopped;
  const CURLMcode mc = outcome.multi;
  const CURLcode rc = outcome.code;
  long status = 0;
  curl::easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);

  auto discard = [&](int code, const std::string& why) {
    file.Close();
    platform::RemoveFile(part);
    detail = why;
    return code;
  };
  // A transfer cut short keeps what it has for the next attempt when the
  // server takes ranges; a body the server would send whole again, or an
  // empty partial file, is not worth keeping.
  auto cut = [&](int code, const std::string& why) {
    if (t.offset + t.written == 0) return discard(code, why);
    if (t.started && !t.rangesAllowed)
      return discard(code, why + "; partial file deleted: the server does not take ranges");
    detail = why + "; partial file kept for resuming (" + std::to_string(t.offset + t.written) +
             " bytes)";
    return code;
  };
  if (stopped || t.stopped) return cut(kDownloadCancelled, "stopped by the quit request");
  if (mc != CURLM_OK) return cut(kDownloadTransportFailure, curl::multi_strerror(mc));
  if (t.writeFailed)
    return discard(kDownloadLocalFailure, Failure("cannot write " + part, t.writeError));
  if (t.digestFailed) return discard(kDownloadLocalFailure, "cannot digest " + part);
  if (t.pastAnnounced) {
    return discard(kDownloadTooLong, "the body runs past the " + std::to_string(t.announced) +
                                         " bytes the server announced; partial file deleted");
  }
  if (t.pastMaximum) {
    return discard(kDownloadTooLong, "the body passes the maximum of " +
                                         std::to_string(t.maxBytes) +
                                         " bytes; partial file deleted");
  }
  if (t.badRange) {
    return discard(kDownloadBadRange, "the server answered another range than bytes=" + range);
  }
  if (t.badStatus || (rc == CURLE_OK && status != 200 && status != 206)) {
    // A refused range (416) means the partial file no longer fits the
    // server's file; it goes, and the next attempt starts over.
    return discard(static_cast<int>(status), "HTTP status " + std::to_string(status));
  }
  if (rc != CURLE_OK) {
    curl_off_t connected = 0;
    curl::easy_getinfo(c, CURLINFO_CONNECT_TIME_T, &connected);
    // Once connected, only the minimum rate times a transfer out.
    if (rc == CURLE_OPERATION_TIMEDOUT && connected > 0) {
      return cut(kDownloadTimedOut, "less than " + std::to_string(bounds.minBytesPerSecond) +
                                        " bytes/s for " + std::to_string(bounds.windowSeconds) +
                                        " s");
    }
    const int code = rc == CURLE_OPERATION_TIMEDOUT ? kDownloadTimedOut : kDownloadTransportFailure;
    return cut(code, error[0] ? error : curl::easy_strerror(rc));
  }
  if (!t.started) {
    // A complete answer without a body: an empty file (or an empty range).
    if (status == 200) {
      const long truncated = file.Truncate(0);
      if (truncated != platform::kErrorSuccess)
        return discard(kDownloadLocalFailure, Failure("cannot write " + part, truncated));
    }
    if (status == 206 && t.rangeStart != t.offset)
      return discard(kDownloadBadRange, "the server answered another range than bytes=" + range);
    if (status == 200) t.offset = 0;
    if (digest && !digest->ResetToFile(part, static_cast<uint64_t>(t.offset)))
      return discard(kDownloadLocalFailure, "cannot digest " + part);
  }
  if (digest && !digest->Finish(*digests))
    return discard(kDownloadLocalFailure, "cannot digest " + part);
  long fileError = file.Flush();
  if (fileError == platform::kErrorSuccess) fileError = file.Close();
  if (fileError != platform::kErrorSuccess)
    return discard(kDownloadLocalFailure, Failure("cannot flush " + part, fileError));
  fileError = platform::RenameFile(part, target);
  if (fileError != platform::kErrorSuccess)
    return discard(kDownloadLocalFailure,
                   Failure("cannot rename " + part + " to " + target, fileError));
  platform::FlushFolderOf(target);
  std::string note = "download " + url + " stored as " + target + " (" +
                     std::to_string(t.offset + t.written) + " bytes";
  if (t.offset > 0) note += ", resumed at " + std::to_string(t.offset);
  Log(orsa::kLogInformation, note + ")");
  return kDownloadStored;
}

}  // namespace orsahost
